// Real files written by others (PngSuite, libjpeg-turbo, libtiff) through LoadImageFile.
#include <fstream>
#include <sstream>

#include "loader_fixture.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

// The decoded RGBA values that PngSuite's json files list.
std::vector<int> JsonValues(const std::string& name) {
  std::ifstream f(DataFile(name));
  std::vector<int> v;
  std::string token;
  char c;
  while (f.get(c)) {
    if (c >= '0' && c <= '9') token += c;
    else if (!token.empty()) {
      v.push_back(std::stoi(token));
      token.clear();
    }
  }
  return v;
}

// Compares slot 1 with 8-bit RGBA values (alpha below 128 = blank).
void ExpectRgba(const std::vector<int>& rgba, int width, bool colour) {
  const TImageSlot& im = Store.Image[1];
  ASSERT_EQ(rgba.size(), size_t(width) * size_t(im.Height) * 4);
  for (int y = 0; y < im.Height; ++y)
    for (int x = 0; x < width; ++x) {
      const int* px = &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
      const bool blank = px[3] < 128;
      for (int p = 1; p <= (colour ? 3 : 1); ++p) {
        const float expected = blank ? BlankPixel : float(px[p - 1]);
        ASSERT_EQ(Px(1, p, x, y), expected) << "x " << x << " y " << y << " plane " << p;
      }
    }
}

TEST_F(LoaderTest, PngSuiteFilesGiveTheListedPixels) {
  struct Case {
    const char* name;
    bool colour;
  } cases[] = {{"basn0g01", false}, {"basn0g08", false}, {"basn2c08", true}, {"basn3p08", true}, {"basn6a08", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Store.Reset();
    ASSERT_TRUE(LoadImageFile(1, DataFile(std::string("pngsuite/") + c.name + ".png")));
    EXPECT_EQ(Store.InUse[1], 1);
    EXPECT_EQ(Store.Image[1].IsColor, c.colour ? 1 : 0);
    EXPECT_EQ(Store.Image[1].PlaneCount, c.colour ? 3 : 1);
    EXPECT_EQ(Store.Image[1].Width, 32);
    ExpectRgba(JsonValues(std::string("pngsuite/") + c.name + ".json"), 32, c.colour);
  }
  EXPECT_TRUE(ui.Messages.empty());
}

TEST_F(LoaderTest, InterlacedPngEqualsItsPlainTwin) {
  ASSERT_TRUE(LoadImageFile(1, DataFile("pngsuite/basi2c08.png")));
  ASSERT_TRUE(LoadImageFile(2, DataFile("pngsuite/basn2c08.png")));
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(Store.Image[1].Planes[p], Store.Image[2].Planes[p]);
}

TEST_F(LoaderTest, SixteenBitPngKeepsItsSamplesAndColourType) {
  ASSERT_TRUE(LoadImageFile(1, DataFile("pngsuite/basn0g16.png")));
  EXPECT_EQ(Store.Image[1].PlaneCount, 1);
  EXPECT_GT(Store.Image[1].MaxValue, 255.0f);  // a 16-bit ramp
  EXPECT_EQ(Store.Display[1].White, 65535.0f);
  ASSERT_TRUE(LoadImageFile(2, DataFile("pngsuite/basn2c16.png")));
  EXPECT_EQ(Store.Image[2].PlaneCount, 3);
  // PngSuite's 16-bit colour picture: red rises to the right, starting at 65535 - 0.
  EXPECT_EQ(Px(2, 1, 0, 0), 65535.0f);
  ASSERT_TRUE(LoadImageFile(3, DataFile("pngsuite/basn4a16.png")));
  EXPECT_EQ(Store.Image[3].PlaneCount, 1);
  ASSERT_TRUE(LoadImageFile(4, DataFile("pngsuite/basn6a16.png")));
  EXPECT_EQ(Store.Image[4].PlaneCount, 3);
  int blanks = 0;
  for (float v : Store.Image[4].Planes[1]) blanks += v == BlankPixel;
  EXPECT_GT(blanks, 0);
}

TEST_F(LoaderTest, CorruptPngSuiteFilesAreRefused) {
  for (const char* name : {"xc1n0g08", "xcrn0g04", "xd0n2c08", "xhdn0g08", "xs1n0g01"}) {
    SCOPED_TRACE(name);
    ui.Messages.clear();
    EXPECT_FALSE(LoadImageFile(1, DataFile(std::string("pngsuite/") + name + ".png")));
    EXPECT_EQ(Store.InUse[1], 0);
    EXPECT_EQ(ui.Messages.size(), 1u);
  }
}

// testorig.ppm is the picture that testorig.jpg was made from: the decode stays
// within the compression error of it, and equals ImageMagick's decode exactly.
TEST_F(LoaderTest, JpegDecodesLikeOtherDecoders) {
  ASSERT_TRUE(LoadImageFile(1, DataFile("libjpeg-turbo/testorig.jpg")));
  const TPnm original = ReadPnm(DataFile("libjpeg-turbo/testorig.ppm"));
  const TImageSlot& im = Store.Image[1];
  ASSERT_EQ(im.Width, original.Width);
  ASSERT_EQ(im.Height, original.Height);
  ASSERT_EQ(im.PlaneCount, 3);
  auto compare = [&](const TPnm& ref, float tolerance) {
    for (int y = 0; y < im.Height; ++y)
      for (int x = 0; x < im.Width; ++x)
        for (int p = 1; p <= 3; ++p)
          ASSERT_NEAR(Px(1, p, x, y), float(ref.Samples[(size_t(y) * size_t(ref.Width) + size_t(x)) * 3 + size_t(p - 1)]),
                      tolerance);
  };
  compare(original, 3.0f);
  if (HaveTool("convert")) {
    ASSERT_TRUE(Shell("convert " + DataFile("libjpeg-turbo/testorig.jpg") + " " + dir.file("im.ppm")));
    compare(ReadPnm(dir.file("im.ppm")), 0.0f);
  }
  EXPECT_EQ(im.JpegFileSize, 5770);
  EXPECT_EQ(im.JpegQuality, -1);
  EXPECT_EQ(Store.Display[1].White, 255.0f);
  // Arithmetic coding decodes as well.
  ASSERT_TRUE(LoadImageFile(2, DataFile("libjpeg-turbo/testimgari.jpg")));
  EXPECT_EQ(Store.Image[2].Width, 227);
}

TEST_F(LoaderTest, TwelveBitJpegIsRefusedCleanly) {
  EXPECT_FALSE(LoadImageFile(1, DataFile("libjpeg-turbo/monkey12.jpg")));
  EXPECT_EQ(Store.InUse[1], 0);
  EXPECT_EQ(Store.Image[1].JpegFileSize, 0);
  EXPECT_FALSE(ui.Messages.empty());
}

TEST_F(LoaderTest, Os2BitmapsMatchTheirPortablePixmap) {
  ASSERT_TRUE(LoadImageFile(1, DataFile("libtiff/rgb-3c-8b.bmp")));
  ASSERT_TRUE(LoadImageFile(2, DataFile("libtiff/rgb-3c-8b.ppm")));
  EXPECT_EQ(Store.Image[1].Width, 157);
  EXPECT_EQ(Store.Image[1].Height, 151);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(Store.Image[1].Planes[p], Store.Image[2].Planes[p]) << p;
  // An 8-bit palette bitmap: colour through its table.
  ASSERT_TRUE(LoadImageFile(3, DataFile("libtiff/palette-1c-8b.bmp")));
  EXPECT_EQ(Store.Image[3].Width, 157);
  EXPECT_EQ(Store.Image[3].PlaneCount, 3);
}

TEST_F(LoaderTest, PortableGreymapLoadsAsOnePlane) {
  ASSERT_TRUE(LoadImageFile(1, DataFile("libtiff/minisblack-1c-8b.pgm")));
  const TPnm ref = ReadPnm(DataFile("libtiff/minisblack-1c-8b.pgm"));
  EXPECT_EQ(Store.Image[1].PlaneCount, 1);
  EXPECT_EQ(Px(1, 1, 5, 7), float(ref.Samples[size_t(7 * ref.Width + 5)]));
  EXPECT_EQ(Store.FileName[1], DataFile("libtiff/minisblack-1c-8b.pgm"));
}

}  // namespace
}  // namespace astrelon::test
