// The EXIF reader on blocks built here byte by byte, and the cards a JPEG with
// an EXIF block gets.
#include "loader_fixture.h"
#include "store/image_loader.h"
#include "store/pictures/exif_reader.h"

namespace astrelon::test {
namespace {

struct TTag {
  uint16_t Tag, Type;
  uint32_t Count;
  std::vector<uint8_t> Value;  // in the block's byte order; more than 4 bytes go to the data area
};

class TBlock {
public:
  explicit TBlock(bool mm) : mm_(mm) {}
  void U16(std::vector<uint8_t>& b, uint32_t v) const {
    if (mm_) b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    else b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
  }
  void U32(std::vector<uint8_t>& b, uint32_t v) const {
    if (mm_) b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    else b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
  }
  TTag Ascii(uint16_t tag, const std::string& s) const {
    return {tag, 2, uint32_t(s.size() + 1), std::vector<uint8_t>(s.c_str(), s.c_str() + s.size() + 1)};
  }
  TTag Rational(uint16_t tag, uint32_t n, uint32_t d, bool isSigned = false) const {
    TTag t{tag, uint16_t(isSigned ? 10 : 5), 1, {}};
    U32(t.Value, n);
    U32(t.Value, d);
    return t;
  }
  TTag Short(uint16_t tag, uint16_t v) const {
    TTag t{tag, 3, 1, {}};
    U16(t.Value, v);
    U16(t.Value, 0);
    return t;
  }
  // TIFF header, IFD0 (with the EXIF pointer when exif is not empty), EXIF IFD, data.
  std::vector<uint8_t> Build(std::vector<TTag> ifd0, const std::vector<TTag>& exif, bool zeroCount = false) const {
    const uint32_t ifd0Size = 2 + 12 * uint32_t(ifd0.size() + (exif.empty() ? 0 : 1)) + 4 + (zeroCount ? 12 : 0);
    const uint32_t exifAt = 8 + ifd0Size;
    const uint32_t exifSize = exif.empty() ? 0 : 2 + 12 * uint32_t(exif.size()) + 4;
    uint32_t dataAt = exifAt + exifSize;
    std::vector<uint8_t> data;
    if (!exif.empty()) {
      TTag p{0x8769, 4, 1, {}};
      U32(p.Value, exifAt);
      ifd0.push_back(p);
    }
    std::vector<uint8_t> b = mm_ ? std::vector<uint8_t>{'M', 'M'} : std::vector<uint8_t>{'I', 'I'};
    U16(b, 42);
    U32(b, 8);
    auto directory = [&](const std::vector<TTag>& tags, bool zero) {
      U16(b, zero ? 0 : uint32_t(tags.size()));
      for (const TTag& t : tags) {
        U16(b, t.Tag);
        U16(b, t.Type);
        U32(b, t.Count);
        if (t.Value.size() <= 4) {
          std::vector<uint8_t> v = t.Value;
          v.resize(4, 0);
          b.insert(b.end(), v.begin(), v.end());
        } else {
          U32(b, dataAt + uint32_t(data.size()));
          data.insert(data.end(), t.Value.begin(), t.Value.end());
        }
      }
      if (zero) b.insert(b.end(), 12, 0);  // the entry with tag 0 that ends a directory of unknown size
      U32(b, 0);
    };
    directory(ifd0, zeroCount);
    if (!exif.empty()) directory(exif, false);
    b.insert(b.end(), data.begin(), data.end());
    return b;
  }

private:
  bool mm_;
};

std::vector<uint8_t> App1(const std::vector<uint8_t>& block) {
  const size_t len = block.size() + 8;
  std::vector<uint8_t> s{0xFF, 0xE1, uint8_t(len >> 8), uint8_t(len), 'E', 'x', 'i', 'f', 0, 0};
  s.insert(s.end(), block.begin(), block.end());
  return s;
}

// testorig.jpg (SOI, a 16-byte APP0, ...) with segments inserted after its APP0.
std::vector<uint8_t> JpegWith(const std::vector<uint8_t>& segments) {
  std::vector<uint8_t> jpg = ReadAll(DataFile("libjpeg-turbo/testorig.jpg"));
  jpg.insert(jpg.begin() + 20, segments.begin(), segments.end());
  return jpg;
}

TEST(Exif, BigEndianBlockAfterApp0) {
  const TBlock mm(true);
  const std::vector<uint8_t> jpg = JpegWith(App1(mm.Build(
      {mm.Ascii(0x010F, "Canon"), mm.Ascii(0x0110, "EOS"), mm.Ascii(0x0132, "2021:08:09 20:00:00")},
      {mm.Short(0x8827, 800), mm.Rational(0x829A, 1, 125), mm.Rational(0x9201, 7, 1, true),
       mm.Rational(0x9202, 5, 1)})));
  TExif exif;
  exif.ReadFromBytes(jpg);
  EXPECT_EQ(exif.HasExif, 1);
  EXPECT_EQ(exif.Motorola, 1);
  EXPECT_EQ(exif.Make, "Canon");
  EXPECT_EQ(exif.Model, "EOS");  // four bytes with its zero: inside the value field
  EXPECT_EQ(exif.DateTime, "2021:08:09 20:00:00");
  EXPECT_EQ(exif.IsoSpeed, 800);
  EXPECT_EQ(exif.ExposureTime, "8.0000000000000E-03");
  EXPECT_EQ(exif.ShutterSpeed, "1.2800000000000E+02");
  EXPECT_EQ(exif.ApertureValue, "5.0000000000000E+00");
  EXPECT_NE(exif.ExifOffset, 0u);
}

TEST(Exif, LittleEndianZeroCountAndNegativeShutter) {
  const TBlock ii(false);
  TExif exif;
  exif.ReadFromBytes(JpegWith(App1(ii.Build({ii.Ascii(0x013B, "  Jane  ")},
                                             {ii.Rational(0x9201, uint32_t(-3), 1, true)}, true))));
  EXPECT_EQ(exif.Motorola, 0);
  EXPECT_EQ(exif.Artist, "Jane");
  EXPECT_EQ(exif.ShutterSpeed, "1.2500000000000E-01");  // 8 seconds
}

TEST(Exif, DamagedBlocksLeaveTheFieldsEmpty) {
  const TBlock ii(false);
  // Header 8 bytes, IFD0 with four entries (54 bytes), EXIF directory at 62, data from 80.
  std::vector<uint8_t> block = ii.Build(
      {ii.Ascii(0x010F, "A long maker name"), ii.Ascii(0x0110, "EOS"), ii.Ascii(0x013B, "Jane Doe")},
      {ii.Short(0x8827, 100)});
  // The maker text's offset points past the block: only that field stays empty.
  std::vector<uint8_t> bad = block;
  bad[8 + 2 + 8] = 0xF0;
  TExif exif;
  exif.ReadFromBytes(JpegWith(App1(bad)));
  EXPECT_EQ(exif.HasExif, 1);
  EXPECT_EQ(exif.Make, "");
  EXPECT_EQ(exif.Artist, "Jane Doe");
  EXPECT_EQ(exif.IsoSpeed, 100);
  // A block cut inside the EXIF directory's entry keeps what IFD0 gave.
  bad = block;
  bad.resize(62 + 6);
  exif.ReadFromBytes(JpegWith(App1(bad)));
  EXPECT_EQ(exif.Make, "");  // its text lay in the lost data area
  EXPECT_EQ(exif.Model, "EOS");
  EXPECT_EQ(exif.ExifOffset, 62u);
  EXPECT_EQ(exif.IsoSpeed, 0);
  // A segment length that runs past the file.
  std::vector<uint8_t> cut = JpegWith(App1(block));
  cut.resize(20 + 30);
  exif.ReadFromBytes(cut);
  EXPECT_EQ(exif.HasExif, 0);
  // An IFD0 offset far outside the block.
  bad = block;
  bad[4] = 0xFF;
  bad[5] = 0xFF;
  exif.ReadFromBytes(JpegWith(App1(bad)));
  EXPECT_EQ(exif.Make, "");
  // Other formats have no EXIF block.
  exif.ExifTagsLesen(DataFile("pngsuite/basn2c08.png"));
  EXPECT_EQ(exif.HasExif, 0);
  exif.ExifTagsLesen(DataFile("libtiff/rgb-3c-8b.bmp"));
  EXPECT_EQ(exif.HasExif, 0);
}

TEST(Exif, SkipsOtherApp1Segments) {
  const TBlock ii(false);
  std::vector<uint8_t> xmp{0xFF, 0xE1, 0, 12, 'h', 't', 't', 'p', ':', '/', '/', 'n', 's', '.'};
  const std::vector<uint8_t> exifSeg = App1(ii.Build({ii.Ascii(0x010F, "Nikon")}, {}));
  xmp.insert(xmp.end(), exifSeg.begin(), exifSeg.end());
  TExif exif;
  exif.ReadFromBytes(JpegWith(xmp));
  EXPECT_EQ(exif.Make, "Nikon");
  // The same from a file.
  TempDir dir;
  WriteAll(dir.file("xmp.jpg"), JpegWith(xmp));
  exif.ExifTagsLesen(dir.file("xmp.jpg"));
  EXPECT_EQ(exif.Make, "Nikon");
}

TEST_F(LoaderTest, JpegWithExifGetsItsCards) {
  const TBlock mm(true);
  const std::vector<uint8_t> jpg = JpegWith(App1(mm.Build(
      {mm.Ascii(0x010F, "Canon"), mm.Ascii(0x0110, "Canon EOS 6D"), mm.Ascii(0x0132, "2021:08:10 01:00:00"),
       mm.Ascii(0x013B, "Jane O'Brien")},
      {mm.Rational(0x829A, 1, 125), mm.Short(0x8827, 1600), mm.Ascii(0x9003, "2021:08:09 22:33:40"),
       mm.Ascii(0x9004, "2021:08:09 22:33:44"), mm.Rational(0x9201, 7, 1, true), mm.Rational(0x9202, 5, 1)})));
  WriteAll(dir.file("exif.jpg"), jpg);
  ASSERT_TRUE(LoadImageFile(1, dir.file("exif.jpg")));
  EXPECT_EQ(Card(1, "DATE-OBS"), PadCard("DATE-OBS= '2021-08-09'"));
  EXPECT_EQ(Card(1, "TIME-OBS"), PadCard("TIME-OBS= '22:33:44'"));
  EXPECT_EQ(Card(1, "INSTRUME"), PadCard("INSTRUME= 'Canon Canon EOS 6D'"));
  EXPECT_EQ(Card(1, "EXPTIME"), PadCard("EXPTIME =  8.0000000000000E-03"));
  EXPECT_EQ(Card(1, "SHUTTER"), PadCard("SHUTTER =  1.2800000000000E+02"));
  EXPECT_EQ(Card(1, "COMMENT    ISO"), PadCard("COMMENT    ISO 1600"));
  // Av 5 is f/5.7.
  EXPECT_EQ(Card(1, "COMMENT    Aperture"), PadCard("COMMENT    Aperture 5.7"));
  EXPECT_EQ(Card(1, "AUTHOR"), PadCard("AUTHOR  = 'Jane O''Brien'"));
  // The date cards of the file time are not added.
  EXPECT_EQ(FindHeaderKeyword(1, "DATE    "), -1);
}

TEST_F(LoaderTest, ExifCardFallbacksAndLongTexts) {
  const TBlock ii(false);
  const std::string maker(40, 'M'), model(39, 'X');
  const std::vector<uint8_t> jpg = JpegWith(App1(ii.Build(
      {ii.Ascii(0x010F, maker), ii.Ascii(0x0110, model), ii.Ascii(0x0132, "2020:01:02 03:04:05")},
      {ii.Rational(0x9201, uint32_t(-3), 1, true)})));
  WriteAll(dir.file("exif2.jpg"), jpg);
  ASSERT_TRUE(LoadImageFile(1, dir.file("exif2.jpg")));
  // Cut so that the closing quote stays in column 80.
  const std::string instr = Card(1, "INSTRUME");
  EXPECT_EQ(instr.substr(0, 11), "INSTRUME= '");
  EXPECT_EQ(instr[79], '\'');
  EXPECT_EQ(instr.substr(11, 68), (maker + " " + model).substr(0, 68));
  // Without an exposure time the shutter speed gives it: 2^-(-3) = 8 seconds.
  EXPECT_EQ(Card(1, "EXPTIME"), PadCard("EXPTIME =  8.0000000000000E+00"));
  EXPECT_EQ(FindHeaderKeyword(1, "SHUTTER"), -1);
  // Only the change date: it becomes the observation date of the main road.
  EXPECT_EQ(Card(1, "DATE-OBS"), PadCard("DATE-OBS= '2020-01-02'"));
  EXPECT_EQ(Card(1, "TIME-OBS"), PadCard("TIME-OBS= '03:04:05'"));
}

}  // namespace
}  // namespace astrelon::test
