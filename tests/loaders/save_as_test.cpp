// Save As: file names by filter, the overwrite question, and what a failed save leaves.
#include <array>
#include <cstdio>
#include <memory>

#include "core/settings.h"
#include "loader_fixture.h"
#include "shell/save/save_as.h"
#include "store/image_loader.h"
#include "store/load_messages.h"

namespace astrelon::test {
namespace {

std::string Identify(const std::string& file) {
  std::unique_ptr<FILE, int (*)(FILE*)> p(popen(("identify -format '%m %w %h' " + file + " 2>/dev/null").c_str(), "r"),
                                          &pclose);
  std::array<char, 128> buf{};
  std::string out;
  while (p && fgets(buf.data(), int(buf.size()), p.get())) out += buf.data();
  return out;
}

class SaveAsTest : public LoaderTest {
protected:
  void SetUp() override {
    LoaderTest::SetUp();
    Settings.RecentFiles = {};
    Settings.FitsExtension = ".fit";
    ASSERT_TRUE(LoadImageFile(1, DataFile("pngsuite/basn2c08.png")));
  }
};

TEST(SaveAsNames, FilterAndExtension) {
  Settings.FitsExtension = ".fit";
  EXPECT_EQ(SaveFilterForName("/a/photo.jpeg"), SfFits);
  EXPECT_EQ(SaveFilterForName("/a/scan.tiff"), SfTiff);
  EXPECT_EQ(SaveFilterForName("/a/x.JPG"), SfJpeg);
  EXPECT_EQ(SaveFilterForName("/a/x.bmp"), SfBmp);
  EXPECT_EQ(SaveFilterForName("/a/x.png"), SfPng);
  EXPECT_EQ(SaveFilterForName("/a.png/x"), SfFits);
  EXPECT_EQ(SaveFileNameFor("/d/m31.tar.fits", SfFits), "/d/m31.tar.fit");
  EXPECT_EQ(SaveFileNameFor("/d.x/m31", SfPng), "/d.x/m31.png");
  EXPECT_EQ(SaveFileNameFor("/d/m31.fit", SfJpeg), "/d/m31.jpg");
  EXPECT_EQ(FitsBitpixOfTypeIndex(2), 16);
  EXPECT_EQ(FitsTypeIndexOfBitpix(-32), 0);
}

TEST_F(SaveAsTest, WritesThePictureAndTakesTheName) {
  Store.Display[1].ZoomPercent = 50;  // a zoomed view still saves the whole image
  std::string written;
  ASSERT_TRUE(SaveSlotAs(1, SfPng, dir.file("out.fits"), 0, written));
  EXPECT_EQ(written, dir.file("out.png"));
  EXPECT_EQ(Store.FileName[1], written);
  EXPECT_EQ(Store.Image[1].NumberedName, 0);
  EXPECT_EQ(Settings.RecentFiles[1], written);
  if (HaveTool("identify")) EXPECT_EQ(Identify(written), "PNG 32 32");
  ASSERT_TRUE(SaveSlotAs(1, SfJpeg, written, 0, written));
  EXPECT_EQ(written, dir.file("out.jpg"));
  if (HaveTool("identify")) EXPECT_EQ(Identify(written), "JPEG 32 32");
  ASSERT_TRUE(SaveSlotAs(1, SfBmp, written, 0, written));
  if (HaveTool("identify")) EXPECT_EQ(Identify(written), "BMP3 32 32");
  // FITS with the dialog's type: 16-bit integers.
  ASSERT_TRUE(SaveSlotAs(1, SfFits, dir.file("m.fits"), 2, written));
  EXPECT_EQ(written, dir.file("m.fit"));
  const std::vector<unsigned char> fits = ReadAll(written);
  EXPECT_EQ(std::string(fits.begin() + 80, fits.begin() + 110), "BITPIX  =                   16");
  EXPECT_TRUE(ui.Messages.empty());
}

TEST_F(SaveAsTest, OverwriteQuestionNamesTheFileWritten) {
  WriteText(dir.file("m.fit"), "old");
  ui.DefaultAnswer = TDialogAnswer::No;
  std::string written = "unchanged";
  EXPECT_FALSE(SaveSlotAs(1, SfFits, dir.file("m.fits"), 0, written));
  ASSERT_EQ(ui.Questions, 1);
  EXPECT_EQ(ui.Messages.back(), ReplaceFileQuestionText(dir.file("m.fit")));
  EXPECT_EQ(ReadAll(dir.file("m.fit")).size(), 3u);
  EXPECT_EQ(Store.FileName[1], DataFile("pngsuite/basn2c08.png"));
  EXPECT_EQ(written, "unchanged");
  ui.DefaultAnswer = TDialogAnswer::Yes;
  EXPECT_TRUE(SaveSlotAs(1, SfFits, dir.file("m.fits"), 0, written));
  EXPECT_GT(ReadAll(dir.file("m.fit")).size(), 2880u);
}

TEST_F(SaveAsTest, FailedSavesChangeNothing) {
  std::string written;
  for (int filter : {SfFits, SfBmp, SfJpeg, SfTiff, SfPng}) {
    ui.Messages.clear();
    EXPECT_FALSE(SaveSlotAs(1, filter, dir.file("nofolder/x"), 0, written)) << filter;
    ASSERT_EQ(ui.Messages.size(), 1u) << filter;
    EXPECT_NE(ui.Messages[0].find(dir.file("nofolder/x")), std::string::npos) << ui.Messages[0];
    EXPECT_EQ(Store.FileName[1], DataFile("pngsuite/basn2c08.png"));
    EXPECT_EQ(Settings.RecentFiles[1], "");
  }
  // An existing file that cannot be replaced stays as it was.
  std::filesystem::create_directory(dir.file("taken.png"));
  ui.DefaultAnswer = TDialogAnswer::Yes;
  EXPECT_FALSE(SaveSlotAs(1, SfPng, dir.file("taken.png"), 0, written));
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken.png")));
}

}  // namespace
}  // namespace astrelon::test
