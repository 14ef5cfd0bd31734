// Files written by ImageMagick and FFmpeg from a known pattern read back with the
// pattern's values. Skipped when a tool is missing.
#include <fstream>

#include "loader_fixture.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

constexpr int W = 7, H = 5;

// Sample k (0..255) of channel c at (x, y); 16-bit files hold k * 257.
int Level(int x, int y, int c) { return (x * 37 + y * 53 + c * 91 + 11) % 256; }
// Alpha well away from half: opaque, nearly opaque, transparent, nearly transparent.
int AlphaLevel(int x, int y) {
  static constexpr int levels[4] = {255, 200, 0, 40};
  return levels[(x + 2 * y) % 4];
}

// A PAM (P7) file of the pattern with maxval 65535 (or 255): grey or RGB, with or without alpha.
void WritePam(const std::string& path, bool colour, bool alpha, bool sixteen) {
  const int depth = (colour ? 3 : 1) + (alpha ? 1 : 0);
  const char* tuple = colour ? (alpha ? "RGB_ALPHA" : "RGB") : (alpha ? "GRAYSCALE_ALPHA" : "GRAYSCALE");
  std::string s = "P7\nWIDTH " + std::to_string(W) + "\nHEIGHT " + std::to_string(H) + "\nDEPTH " +
                  std::to_string(depth) + (sixteen ? "\nMAXVAL 65535" : "\nMAXVAL 255") + "\nTUPLTYPE " + tuple + "\nENDHDR\n";
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      for (int c = 0; c < depth; ++c) {
        const int k = alpha && c == depth - 1 ? AlphaLevel(x, y) : Level(x, y, colour ? c : 0);
        if (sixteen) s += char(k * 257 >> 8);
        s += char(sixteen ? k * 257 & 255 : k);
      }
    }
  WriteText(path, s);
}

// Slot 1 against the pattern: 8-bit or 16-bit values, blank where alpha is low.
void ExpectPattern(const std::string& file, bool colour, bool alpha, bool sixteen, float tolerance = 0) {
  SCOPED_TRACE(file);
  const TImageSlot& im = Store.Image[1];
  ASSERT_EQ(im.Width, W);
  ASSERT_EQ(im.Height, H);
  ASSERT_EQ(im.PlaneCount, colour ? 3 : 1);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      for (int p = 1; p <= im.PlaneCount; ++p) {
        const bool blank = alpha && AlphaLevel(x, y) < 128;
        const float k = float(Level(x, y, colour ? p - 1 : 0));
        const float expected = blank ? BlankPixel : sixteen ? k * 257 : k;
        if (blank) ASSERT_EQ(Px(1, p, x, y), BlankPixel);
        else ASSERT_NEAR(Px(1, p, x, y), expected, tolerance) << "x " << x << " y " << y << " p " << p;
      }
}

class ToolRoundTrip : public LoaderTest {
protected:
  void SetUp() override {
    LoaderTest::SetUp();
    for (bool colour : {false, true})
      for (bool alpha : {false, true})
        for (bool sixteen : {false, true}) WritePam(Source(colour, alpha, sixteen), colour, alpha, sixteen);
  }
  std::string Source(bool colour, bool alpha, bool sixteen = true) const {
    return dir.file(std::string(colour ? "rgb" : "grey") + (alpha ? "a" : "") + (sixteen ? "16" : "8") + ".pam");
  }
  // Converts with ImageMagick and loads the result into slot 1.
  std::string last;
  void Expect(bool colour, bool alpha, bool sixteen, float tolerance = 0) {
    ExpectPattern(last, colour, alpha, sixteen, tolerance);
  }
  bool Magick(bool colour, bool alpha, const std::string& options, const std::string& out) {
    Store.Reset();
    last = out;
    const size_t colon = out.find(':');
    if (!Shell("convert " + Source(colour, alpha) + " " + options + " " + out.substr(0, colon + 1) +
               dir.file(out.substr(colon + 1))))
      return false;
    return LoadImageFile(1, dir.file(out.substr(out.find(':') + 1)));
  }
  // FFmpeg converts from the 8-bit or 16-bit source that matches the output.
  bool Ffmpeg(bool colour, bool alpha, const std::string& pixFmt, const std::string& out, bool sixteen) {
    Store.Reset();
    last = out;
    if (!Shell("ffmpeg -y -loglevel error -i " + Source(colour, alpha, sixteen) + " -pix_fmt " + pixFmt + " -frames:v 1 " +
               dir.file(out)))
      return false;
    return LoadImageFile(1, dir.file(out));
  }
};

TEST_F(ToolRoundTrip, ImageMagickPng) {
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
  ASSERT_TRUE(Magick(true, false, "-depth 16", "png48:rgb16.png"));
  Expect(true, false, true);
  ASSERT_TRUE(Magick(true, true, "-depth 16", "png64:rgba16.png"));
  Expect(true, true, true);
  ASSERT_TRUE(Magick(true, false, "-depth 8", "png24:rgb8.png"));
  Expect(true, false, false);
  ASSERT_TRUE(Magick(true, true, "-depth 8", "png32:rgba8.png"));
  Expect(true, true, false);
  ASSERT_TRUE(Magick(false, false, "-define png:bit-depth=16 -define png:color-type=0", "png:grey16.png"));
  Expect(false, false, true);
  ASSERT_TRUE(Magick(false, false, "-depth 8 -define png:color-type=0", "png:grey8.png"));
  Expect(false, false, false);
  ASSERT_TRUE(Magick(false, true, "-depth 8 -define png:color-type=4", "png:greya8.png"));
  Expect(false, true, false);
  ASSERT_TRUE(Magick(false, true, "-define png:bit-depth=16 -define png:color-type=4", "png:greya16.png"));
  Expect(false, true, true);
  EXPECT_TRUE(ui.Messages.empty());
}

TEST_F(ToolRoundTrip, ImageMagickBmpAndPortableMaps) {
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
  ASSERT_TRUE(Magick(true, false, "-depth 8", "bmp3:rgb24.bmp"));
  Expect(true, false, false);
  ASSERT_TRUE(Magick(true, false, "-depth 8", "bmp:rgb.bmp"));
  Expect(true, false, false);
  // ImageMagick's palette reduction may move grey levels: its own decode is the reference.
  ASSERT_TRUE(Magick(false, false, "-depth 8 -type Palette", "bmp3:palette.bmp"));
  EXPECT_EQ(Store.Image[1].PlaneCount, 1);
  ASSERT_TRUE(Shell("convert " + dir.file("palette.bmp") + " -depth 8 " + dir.file("palette.pgm")));
  ASSERT_TRUE(LoadImageFile(2, dir.file("palette.pgm")));
  EXPECT_EQ(Store.Image[1].Planes[1], Store.Image[2].Planes[1]);
  ASSERT_TRUE(Magick(true, false, "-depth 16", "ppm:rgb16.ppm"));
  Expect(true, false, true);
  ASSERT_TRUE(Magick(true, false, "-depth 8", "ppm:rgb8.ppm"));
  Expect(true, false, false);
  ASSERT_TRUE(Magick(false, false, "-depth 16", "pgm:grey16.pgm"));
  Expect(false, false, true);
  ASSERT_TRUE(Magick(false, false, "-depth 8", "pgm:grey8.pgm"));
  Expect(false, false, false);
  // TIFF goes to the TIFF reader, which keeps 16-bit samples.
  ASSERT_TRUE(Magick(true, false, "-depth 16", "tiff:rgb16.tif"));
  Expect(true, false, true);
  EXPECT_TRUE(ui.Messages.empty());
}

// JPEG is lossy: ImageMagick's own decode (the same libjpeg) is the reference.
TEST_F(ToolRoundTrip, ImageMagickJpeg) {
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
  for (bool colour : {true, false}) {
    SCOPED_TRACE(colour ? "colour" : "grey");
    Store.Reset();
    const std::string jpg = dir.file(colour ? "rgb.jpg" : "grey.jpg");
    const std::string ref = dir.file(colour ? "ref.ppm" : "ref.pgm");
    ASSERT_TRUE(Shell("convert " + Source(colour, false) + " -depth 8 -quality 85 " +
                      (colour ? "-type TrueColor " : "-type Grayscale ") + jpg));
    ASSERT_TRUE(Shell("convert " + jpg + " -depth 8 " + ref));
    ASSERT_TRUE(LoadImageFile(1, jpg));
    ASSERT_TRUE(LoadImageFile(2, ref));
    EXPECT_EQ(Store.Image[1].PlaneCount, Store.Image[2].PlaneCount);
    EXPECT_EQ(Store.Image[1].PlaneCount, colour ? 3 : 1);
    for (int p = 1; p <= Store.Image[1].PlaneCount; ++p) EXPECT_EQ(Store.Image[1].Planes[p], Store.Image[2].Planes[p]);
  }
}

TEST_F(ToolRoundTrip, FfmpegFiles) {
  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "FFmpeg missing";
  ASSERT_TRUE(Ffmpeg(true, false, "rgb48be", "rgb16.png", true));
  Expect(true, false, true);
  ASSERT_TRUE(Ffmpeg(true, true, "rgba", "rgba8.png", false));
  Expect(true, true, false);
  ASSERT_TRUE(Ffmpeg(true, true, "rgba64be", "rgba16.png", true));
  Expect(true, true, true);
  ASSERT_TRUE(Ffmpeg(false, false, "gray16be", "grey16.png", true));
  Expect(false, false, true);
  ASSERT_TRUE(Ffmpeg(false, true, "ya8", "greya8.png", false));
  Expect(false, true, false);
  ASSERT_TRUE(Ffmpeg(true, false, "bgr24", "rgb.bmp", false));
  Expect(true, false, false);
  ASSERT_TRUE(Ffmpeg(false, false, "gray", "grey8.pgm", false));
  Expect(false, false, false);
  ASSERT_TRUE(Ffmpeg(false, false, "gray16be", "grey16.pgm", true));
  Expect(false, false, true);
  ASSERT_TRUE(Ffmpeg(true, false, "rgb48be", "rgb16.ppm", true));
  Expect(true, false, true);
  ASSERT_TRUE(Ffmpeg(true, false, "rgb24", "rgb8.ppm", false));
  Expect(true, false, false);
  // 16-bit bitmaps with colour masks: 5 or 6 bits per channel, scaled to 0..255
  // (FFmpeg's own decode repeats the high bits, which differs by at most 1).
  ASSERT_TRUE(Ffmpeg(true, false, "rgb565le", "rgb565.bmp", false));
  ASSERT_TRUE(Shell("ffmpeg -y -loglevel error -i " + dir.file("rgb565.bmp") + " -pix_fmt rgb24 " + dir.file("565.ppm")));
  ASSERT_TRUE(LoadImageFile(2, dir.file("565.ppm")));
  for (int p = 1; p <= 3; ++p)
    for (size_t i = 0; i < Store.Image[1].Planes[p].size(); ++i)
      EXPECT_NEAR(Store.Image[1].Planes[p][i], Store.Image[2].Planes[p][i], 1.0f);
  // A JPEG from FFmpeg's own encoder; ImageMagick decodes it for comparison.
  if (HaveTool("convert")) {
    ASSERT_TRUE(Ffmpeg(true, false, "yuvj444p", "ff.jpg", false));
    ASSERT_TRUE(Shell("convert " + dir.file("ff.jpg") + " -strip -depth 8 " + dir.file("ff.ppm")));
    ASSERT_TRUE(LoadImageFile(2, dir.file("ff.ppm")));
    for (int p = 1; p <= 3; ++p) EXPECT_EQ(Store.Image[1].Planes[p], Store.Image[2].Planes[p]);
  }
  EXPECT_TRUE(ui.Messages.empty());
}

}  // namespace
}  // namespace astrelon::test
