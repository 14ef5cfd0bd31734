// Observation times of files, and FITS files through the loader.
#include "loader_fixture.h"
#include "store/fits/fits_writer.h"
#include "store/header_cards.h"
#include "store/image_loader.h"
#include "store/observation_time.h"

namespace astrelon::test {
namespace {

// testorig.jpg with an EXIF block (little-endian) holding the given IFD0 DateTime
// and EXIF DateTimeOriginal texts (each 19 characters plus zero).
std::vector<unsigned char> JpegWithDates(const std::string& changed, const std::string& original) {
  std::vector<unsigned char> t{'I', 'I', 42, 0, 8, 0, 0, 0};
  auto u16 = [&](unsigned v) { t.insert(t.end(), {uint8_t(v), uint8_t(v >> 8)}); };
  auto u32 = [&](unsigned v) { t.insert(t.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); };
  // IFD0 at 8: DateTime and the EXIF pointer (2 entries: 2 + 24 + 4 = 30 bytes); EXIF IFD at 38
  // (1 entry: 18 bytes); texts at 56 and 76.
  u16(2);
  u16(0x0132), u16(2), u32(20), u32(56);
  u16(0x8769), u16(4), u32(1), u32(38);
  u32(0);
  u16(original.empty() ? 0 : 1);
  u16(0x9003), u16(2), u32(20), u32(76);
  u32(0);
  for (const std::string& s : {changed, original}) {
    t.insert(t.end(), s.begin(), s.end());
    t.push_back(0);
  }
  std::vector<unsigned char> seg{0xFF, 0xE1, uint8_t((t.size() + 8) >> 8), uint8_t(t.size() + 8), 'E', 'x', 'i', 'f', 0, 0};
  seg.insert(seg.end(), t.begin(), t.end());
  std::vector<unsigned char> jpg = ReadAll(DataFile("libjpeg-turbo/testorig.jpg"));
  jpg.insert(jpg.begin() + 20, seg.begin(), seg.end());
  return jpg;
}

TEST_F(LoaderTest, ObservationTimeOfFiles) {
  TDateTime t = 0;
  int32_t quality = -5;
  GetObservationTime(dir.file("missing.jpg"), t, quality);
  EXPECT_EQ(quality, 0);
  EXPECT_EQ(t, UnknownDateTime);

  WriteAll(dir.file("orig.jpg"), JpegWithDates("2020:01:02 03:04:05", "2019:06:07 08:09:10"));
  GetObservationTime(dir.file("orig.jpg"), t, quality);
  EXPECT_EQ(quality, 2);
  EXPECT_EQ(FormatIsoDate(t) + " " + FormatTimeOfDay(t), "2019-06-07 08:09:10");

  // An extension that is part of ".JPG.TIF.BMP" reads the EXIF block too.
  WriteAll(dir.file("short.jp"), JpegWithDates("2020:01:02 03:04:05", "2019:06:07 08:09:10"));
  GetObservationTime(dir.file("short.jp"), t, quality);
  EXPECT_EQ(quality, 2);
  EXPECT_EQ(FormatIsoDate(t) + " " + FormatTimeOfDay(t), "2019-06-07 08:09:10");

  WriteAll(dir.file("changed.jpg"), JpegWithDates("2020:01:02 03:04:05", ""));
  GetObservationTime(dir.file("changed.jpg"), t, quality);
  EXPECT_EQ(quality, 1);
  EXPECT_EQ(FormatIsoDate(t) + " " + FormatTimeOfDay(t), "2020-01-02 03:04:05");

  // No date inside: the file's time.
  WriteAll(dir.file("plain.png"), ReadAll(DataFile("pngsuite/basn0g08.png")));
  GetObservationTime(dir.file("plain.png"), t, quality);
  EXPECT_EQ(quality, 1);
  EXPECT_GT(t, 40000.0);
}

TEST_F(LoaderTest, FitsFilesGoThroughTheFitsReader) {
  ASSERT_TRUE(LoadImageFile(1, DataFile("pngsuite/basn2c08.png")));
  AppendHeaderCard(1, "DATE-OBS= '2005-03-14T21:05:30'");
  ASSERT_TRUE(SaveFits(1, -32, dir.file("m.fit"), true, false));
  ASSERT_TRUE(LoadImageFile(2, dir.file("m.fit")));
  EXPECT_EQ(Store.Image[2].PlaneCount, 3);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(Store.Image[2].Planes[p], Store.Image[1].Planes[p]);
  TDateTime t = 0;
  int32_t quality = 0;
  GetObservationTime(dir.file("m.fit"), t, quality);
  EXPECT_EQ(quality, 2);
  EXPECT_EQ(FormatIsoDate(t) + " " + FormatTimeOfDay(t), "2005-03-14 21:05:30");
}

}  // namespace
}  // namespace astrelon::test
