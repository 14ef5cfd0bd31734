// What LoadImageFile does around the readers: dispatch, bad files, PGM/PPM header
// rules, date cards, initial zoom and the YUV option.
#include <sys/stat.h>
#include <utime.h>

#include "core/settings.h"
#include "loader_fixture.h"
#include "store/display/display_bitmap.h"
#include "store/image_loader.h"
#include "store/initial_zoom.h"
#include "store/load_messages.h"
#include "store/pictures/bmp_codec.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/pictures/jpeg_reader.h"

namespace astrelon::test {
namespace {

TEST_F(LoaderTest, TruncatedAndGarbageFilesLeaveNoSlotInUse) {
  struct Case {
    const char* source;
    const char* ext;
  } cases[] = {{"pngsuite/basn2c08.png", ".png"},        {"libjpeg-turbo/testorig.jpg", ".jpg"},
               {"libtiff/rgb-3c-8b.bmp", ".bmp"},        {"libtiff/rgb-3c-8b.ppm", ".ppm"},
               {"libtiff/minisblack-1c-8b.pgm", ".pgm"}, {"pngsuite/basn0g16.png", ".png"}};
  int n = 0;
  for (const Case& c : cases) {
    std::vector<unsigned char> bytes = ReadAll(DataFile(c.source));
    bytes.resize(bytes.size() / 2);
    const std::string cut = dir.file("cut" + std::to_string(n++) + c.ext);
    WriteAll(cut, bytes);
    ui.Messages.clear();
    EXPECT_FALSE(LoadImageFile(1, cut)) << c.source;
    EXPECT_EQ(Store.InUse[1], 0) << c.source;
    EXPECT_FALSE(ui.Messages.empty()) << c.source;
    EXPECT_TRUE(Store.Image[1].Planes[1].empty()) << c.source;
  }
  std::vector<unsigned char> garbage(3000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = (unsigned char)(i * 7919 % 251);
  for (const char* ext : {".png", ".jpg", ".jpeg", ".bmp", ".ppm", ".pgm"}) {
    const std::string name = dir.file(std::string("garbage") + ext);
    WriteAll(name, garbage);
    ui.Messages.clear();
    EXPECT_FALSE(LoadImageFile(1, name)) << ext;
    EXPECT_EQ(Store.InUse[1], 0) << ext;
    EXPECT_FALSE(ui.Messages.empty()) << ext;
  }
  // A bitmap header that claims a huge picture in a small file.
  std::vector<unsigned char> bmp = ReadAll(DataFile("libtiff/rgb-3c-8b.bmp"));
  bmp[18] = 0xFF;
  bmp[19] = 0x7F;
  bmp[20] = 0xFF;
  bmp[21] = 0x7F;
  WriteAll(dir.file("huge.bmp"), bmp);
  EXPECT_FALSE(LoadImageFile(1, dir.file("huge.bmp")));
  EXPECT_EQ(Store.InUse[1], 0);
}

TEST_F(LoaderTest, LoadImageFileRefusesWithoutTrying) {
  EXPECT_FALSE(LoadImageFile(1, dir.file("missing.png")));
  EXPECT_FALSE(LoadImageFile(0, DataFile("pngsuite/basn0g08.png")));
  EXPECT_FALSE(LoadImageFile(-3, DataFile("pngsuite/basn0g08.png")));
  for (int s = 1; s <= MaxImageSlots; ++s) Store.InUse[s] = 1;
  Store.InUse[7] = 1;
  EXPECT_FALSE(LoadImageFile(7, DataFile("pngsuite/basn0g08.png")));
  EXPECT_TRUE(ui.Messages.empty());
}

TEST_F(LoaderTest, ExtensionsChooseTheReader) {
  // ".JPEG" and ".JPE" are JPEG files; ".PGM" files go to the PGM/PPM reader.
  WriteAll(dir.file("photo.JPEG"), ReadAll(DataFile("libjpeg-turbo/testorig.jpg")));
  ASSERT_TRUE(LoadImageFile(1, dir.file("photo.JPEG")));
  EXPECT_EQ(Store.Image[1].Width, 227);
  WriteAll(dir.file("photo.jpe"), ReadAll(DataFile("libjpeg-turbo/testorig.jpg")));
  ASSERT_TRUE(LoadImageFile(2, dir.file("photo.jpe")));
  WriteText(dir.file("grey.PGM"), PnmBytes(false, 2, 1, 255, {3, 4}));
  ASSERT_TRUE(LoadImageFile(3, dir.file("grey.PGM")));
  // A PPM file with P5 data is grey.
  WriteText(dir.file("p5.ppm"), PnmBytes(false, 2, 1, 255, {3, 4}));
  ASSERT_TRUE(LoadImageFile(4, dir.file("p5.ppm")));
  EXPECT_EQ(Store.Image[4].PlaneCount, 1);
  // A folder with a dot does not give a file without extension one.
  std::filesystem::create_directory(dir.file("d.png"));
  WriteAll(dir.file("d.png/pic"), ReadAll(DataFile("pngsuite/basn0g08.png")));
  ui.Messages.clear();
  EXPECT_FALSE(LoadImageFile(5, dir.file("d.png/pic")));
  EXPECT_EQ(Store.InUse[5], 0);
}

TEST_F(LoaderTest, PortableMapHeaderRules) {
  // A 16-bit sample of bytes 0x12 0x34 is 4660; the display range follows maxval.
  WriteText(dir.file("w16.pgm"), PnmBytes(false, 1, 1, 65535, {0x1234}));
  ASSERT_TRUE(LoadImageFile(1, dir.file("w16.pgm")));
  EXPECT_EQ(Px(1, 1, 0, 0), 4660.0f);
  EXPECT_EQ(Store.Display[1].White, 65535.0f);
  WriteText(dir.file("m1000.pgm"), PnmBytes(false, 1, 1, 1000, {0x0100}));
  ASSERT_TRUE(LoadImageFile(1, dir.file("m1000.pgm")));
  EXPECT_EQ(Store.Display[1].White, 1000.0f);
  // A P6 file whose pixels are all grey has one plane; one coloured pixel keeps three.
  WriteText(dir.file("grey.ppm"), PnmBytes(true, 2, 1, 255, {9, 9, 9, 200, 200, 200}));
  ASSERT_TRUE(LoadImageFile(1, dir.file("grey.ppm")));
  EXPECT_EQ(Store.Image[1].PlaneCount, 1);
  EXPECT_EQ(Store.Image[1].IsColor, 0);
  WriteText(dir.file("rgb.ppm"), PnmBytes(true, 2, 1, 255, {9, 9, 9, 200, 201, 200}));
  ASSERT_TRUE(LoadImageFile(1, dir.file("rgb.ppm")));
  EXPECT_EQ(Store.Image[1].PlaneCount, 3);
  EXPECT_EQ(Px(1, 2, 1, 0), 201.0f);
  // Refused: header on one line (the height token runs on through the blank), a
  // comment, maxval 0, and a size larger than the file holds.
  for (const std::string& text : {std::string("P6 2 1 255\n") + std::string(6, 'a'),
                                  std::string("P5\n# made by hand\n2 1\n255\nab"), std::string("P5\n2 1\n0\nab"),
                                  std::string("P5\n30000 30000\n255\n") + std::string(1000, 'a'),
                                  std::string("P5\n2 1\n255\n"), std::string("P4\n2 1\n")}) {
    WriteText(dir.file("bad.ppm"), text);
    ui.Messages.clear();
    EXPECT_FALSE(LoadImageFile(1, dir.file("bad.ppm"))) << text.substr(0, 12);
    ASSERT_EQ(ui.Messages.size(), 1u);
    EXPECT_EQ(ui.Messages[0], HeaderNotRecognisedText());
    EXPECT_EQ(Store.InUse[1], 0);
  }
  // A short last row: its missing pixels are blank.
  WriteText(dir.file("short.ppm"), PnmBytes(true, 2, 2, 255, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  ASSERT_TRUE(LoadImageFile(1, dir.file("short.ppm")));
  EXPECT_EQ(Px(1, 1, 0, 1), 7.0f);
  EXPECT_EQ(Px(1, 1, 1, 1), BlankPixel);
  EXPECT_EQ(Px(1, 3, 1, 1), BlankPixel);
}

TEST_F(LoaderTest, GreyDetectionOfPictures) {
  // A colour bitmap whose pixels are all grey loads as one plane unless colour is kept.
  TDisplayBitmap bmp;
  bmp.Resize(3, 2, TBitmapFormat::Bgr24);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 3; ++c) bmp.Row(y)[size_t(3 * x + c)] = uint8_t(40 * x + 100 * y);
  WriteAll(dir.file("grey24.bmp"), EncodeBmp(bmp));
  ASSERT_TRUE(LoadImageFile(1, dir.file("grey24.bmp")));
  EXPECT_EQ(Store.Image[1].PlaneCount, 1);
  EXPECT_EQ(Store.Image[1].IsColor, 0);
  EXPECT_EQ(Px(1, 1, 2, 1), 180.0f);
  EXPECT_TRUE(Store.Image[1].Planes[2].empty());

  TPicture pic;
  pic.Format = {2, 1, 3, 8, false};
  pic.Samples8 = {5, 5, 5, 6, 6, 6};
  ASSERT_TRUE(GraphicToSlot(pic, 2, true));
  EXPECT_EQ(Store.Image[2].PlaneCount, 3);
  EXPECT_EQ(Store.Image[2].IsColor, 1);
  ASSERT_TRUE(GraphicToSlot(pic, 3, false));
  EXPECT_EQ(Store.Image[3].PlaneCount, 1);
  // A 16-bit colour picture stays colour even when grey.
  TPicture pic16;
  pic16.Format = {1, 1, 3, 16, false};
  pic16.Samples16 = {700, 700, 700};
  ASSERT_TRUE(GraphicToSlot(pic16, 4, false));
  EXPECT_EQ(Store.Image[4].PlaneCount, 3);
  EXPECT_EQ(Store.Display[4].White, 65535.0f);
  // An empty picture fills nothing.
  TPicture empty;
  empty.Format = {0, 5, 3, 8, false};
  EXPECT_FALSE(GraphicToSlot(empty, 5, false));
  EXPECT_EQ(Store.InUse[5], 0);
}

TEST_F(LoaderTest, DateCardsFromTheFileScanOrTheFileTime) {
  // A bitmap of more than 1050 bytes with an EXIF date text after a zero byte.
  TDisplayBitmap bmp;
  bmp.Resize(30, 30, TBitmapFormat::Indexed8);
  for (int i = 0; i < 256; ++i) bmp.ColourTable[size_t(i)] = PackRgb(uint32_t(i), uint32_t(i), uint32_t(i));
  std::vector<uint8_t> bytes = EncodeBmp(bmp);
  ASSERT_GT(bytes.size(), 1050u);
  std::fill(bytes.begin() + 60, bytes.begin() + 100, 0);
  const std::string date = "2009:05:17 22:14:05";
  std::copy(date.begin(), date.end(), bytes.begin() + 100);
  bytes[100 + date.size()] = 0;
  WriteAll(dir.file("dated.bmp"), bytes);
  ASSERT_TRUE(LoadImageFile(1, dir.file("dated.bmp")));
  EXPECT_EQ(Card(1, "DATE-OBS"), PadCard("DATE-OBS= '2009-05-17'"));
  EXPECT_EQ(Card(1, "TIME-OBS"), PadCard("TIME-OBS= '22:14:05'"));
  // Without a date in the file: the file's modification time (local time).
  WriteAll(dir.file("plain.png"), ReadAll(DataFile("pngsuite/basn0g08.png")));
  std::tm tm{};
  tm.tm_year = 2011 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 4;
  tm.tm_hour = 5;
  tm.tm_min = 6;
  tm.tm_sec = 7;
  tm.tm_isdst = -1;
  const utimbuf times{std::mktime(&tm), std::mktime(&tm)};
  ASSERT_EQ(utime(dir.file("plain.png").c_str(), &times), 0);
  ASSERT_TRUE(LoadImageFile(2, dir.file("plain.png")));
  EXPECT_EQ(Card(2, "DATE    "), PadCard("DATE    = '2011-03-04'"));
  EXPECT_EQ(Card(2, "TIME    "), PadCard("TIME    = '05:06:07'"));
  EXPECT_EQ(FindHeaderKeyword(2, "DATE-OBS"), -1);
}

TEST_F(LoaderTest, HalfSizeQuestionForVeryLargeJpegs) {
  // testorig.jpg with its frame header claiming 10000 x 6000 pixels (padded so
  // that the size is plausible): Abort loads nothing.
  std::vector<unsigned char> jpg = ReadAll(DataFile("libjpeg-turbo/testorig.jpg"));
  size_t sof = 2;
  while (!(jpg[sof] == 0xFF && jpg[sof + 1] == 0xC0)) sof += 2 + size_t(jpg[sof + 2] << 8 | jpg[sof + 3]);
  jpg[sof + 5] = 6000 >> 8;
  jpg[sof + 6] = 6000 & 255;
  jpg[sof + 7] = 10000 >> 8;
  jpg[sof + 8] = 10000 & 255;
  jpg.resize(jpg.size() + 70000, 0);
  WriteAll(dir.file("big.jpg"), jpg);
  ui.DefaultAnswer = TDialogAnswer::Cancel;
  EXPECT_FALSE(LoadImageFile(1, dir.file("big.jpg")));
  EXPECT_EQ(ui.Questions, 1);
  EXPECT_EQ(ui.Messages.back(), HalfSizeQuestionText());
  EXPECT_EQ(Store.InUse[1], 0);
  EXPECT_TRUE(Store.Image[1].Planes[1].empty());
  // Half scale itself, on a small picture.
  TPictureSink sink;
  ASSERT_TRUE(DecodeJpeg(ReadAll(DataFile("libjpeg-turbo/testorig.jpg")), true, 2, sink));
  EXPECT_EQ(Store.Image[2].Width, 114);
  EXPECT_EQ(Store.Image[2].Height, 75);
}

TEST(InitialZoom, AutozoomAndFixedCodes) {
  EXPECT_EQ(InitialZoomPercent(1000, 800, {0, 900, 700}), 70);
  EXPECT_EQ(InitialZoomPercent(5000, 3000, {0, 1300, 800}), 25);
  EXPECT_EQ(InitialZoomPercent(6000, 4000, {0, 1300, 800}), 17);
  EXPECT_EQ(InitialZoomPercent(500, 400, {0, 1300, 800}), 100);
  EXPECT_EQ(InitialZoomPercent(40000, 100, {1, 0, 0}), 70);
  EXPECT_EQ(InitialZoomPercent(100, 100, {3, 0, 0}), 400);
  EXPECT_EQ(InitialZoomPercent(100, 100, {-4, 0, 0}), 35);
}

TEST_F(LoaderTest, ZoomHookAndYuvOption) {
  ZoomRoomHook = [] { return TZoomRoom{0, 20, 20}; };
  Options.YuvLoad = 1;
  const bool ok = LoadImageFile(1, DataFile("pngsuite/basn2c08.png"));
  ZoomRoomHook = nullptr;
  Options.YuvLoad = 0;
  ASSERT_TRUE(ok);
  EXPECT_EQ(Store.Display[1].ZoomPercent, 50);  // 32 x 32 in 20 x 20
  EXPECT_EQ(Store.Image[1].ColorModel, CmYuv);
  EXPECT_EQ(Store.Image[1].NumberedName, 0);
  EXPECT_EQ(Store.FileName[1], DataFile("pngsuite/basn2c08.png"));
}

}  // namespace
}  // namespace astrelon::test

namespace astrelon::test {
namespace {

// Converting on worker threads gives the same planes as converting in line.
TEST_F(LoaderTest, WorkerThreadsGiveTheSameImage) {
  const size_t saved = PictureWorkerThreshold;
  const char* files[] = {"libjpeg-turbo/testorig.jpg", "pngsuite/basn6a16.png", "pngsuite/basn4a16.png",
                         "pngsuite/basn0g08.png",      "libtiff/rgb-3c-8b.bmp", "pngsuite/basi2c08.png"};
  for (const char* f : files) {
    SCOPED_TRACE(f);
    PictureWorkerThreshold = 4000000;
    ASSERT_TRUE(LoadImageFile(1, DataFile(f)));
    PictureWorkerThreshold = 1;
    ASSERT_TRUE(LoadImageFile(2, DataFile(f)));
    EXPECT_EQ(Store.Image[1].PlaneCount, Store.Image[2].PlaneCount);
    EXPECT_EQ(Store.Image[1].IsColor, Store.Image[2].IsColor);
    for (int p = 1; p <= 3; ++p) EXPECT_EQ(Store.Image[1].Planes[p], Store.Image[2].Planes[p]);
    Store.Reset();
  }
  // A decoder that fails half-way leaves no slot in use.
  std::vector<unsigned char> bytes = ReadAll(DataFile("pngsuite/basn2c08.png"));
  bytes.resize(bytes.size() * 2 / 3);
  WriteAll(dir.file("cut.png"), bytes);
  EXPECT_FALSE(LoadImageFile(1, dir.file("cut.png")));
  EXPECT_EQ(Store.InUse[1], 0);
  PictureWorkerThreshold = saved;
}

}  // namespace
}  // namespace astrelon::test
