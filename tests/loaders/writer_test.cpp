// What the BMP, JPEG and PNG writers produce, read back by ImageMagick.
#include <array>
#include <cstdio>
#include <memory>

#include "loader_fixture.h"
#include "store/display/colour_tables.h"
#include "store/display/display_bitmap.h"
#include "store/pictures/bmp_codec.h"
#include "store/pictures/jpeg_writer.h"
#include "store/pictures/png_writer.h"

namespace astrelon::test {
namespace {

constexpr int W = 9, H = 4;

uint8_t Level(int x, int y, int c) { return uint8_t((x * 29 + y * 61 + c * 97 + 3) % 256); }

TDisplayBitmap ColourBitmap() {
  TDisplayBitmap b;
  b.Resize(W, H, TBitmapFormat::Bgr24);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      for (int c = 0; c < 3; ++c) b.Row(y)[size_t(3 * x + 2 - c)] = Level(x, y, c);  // stored B, G, R
  return b;
}

// Smooth enough that JPEG's chroma subsampling costs little.
TDisplayBitmap SmoothBitmap() {
  TDisplayBitmap b;
  b.Resize(W, H, TBitmapFormat::Bgr24);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      for (int c = 0; c < 3; ++c) b.Row(y)[size_t(3 * x + 2 - c)] = uint8_t(30 + 10 * x + 8 * y + 40 * c);
  return b;
}

TDisplayBitmap IndexedBitmap(int displayType) {
  TDisplayBitmap b;
  b.Resize(W, H, TBitmapFormat::Indexed8);
  b.ColourTable = ColourTableForType(displayType);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) b.Row(y)[size_t(x)] = Level(x, y, 0);
  return b;
}

// Output of an ImageMagick command (first line).
std::string Magick(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> p(popen((command + " 2>/dev/null").c_str(), "r"), &pclose);
  std::string out;
  std::array<char, 256> buf{};
  while (p && fgets(buf.data(), int(buf.size()), p.get())) out += buf.data();
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

class WriterTest : public LoaderTest {
protected:
  void SetUp() override {
    LoaderTest::SetUp();
    if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
  }
  // The file as 8-bit RGB samples, decoded by ImageMagick.
  TPnm Decode(const std::string& file) {
    EXPECT_TRUE(Shell("convert " + file + " -strip -depth 8 -type TrueColor " + dir.file("check.ppm")));
    return ReadPnm(dir.file("check.ppm"));
  }
  void ExpectPixels(const TPnm& p, const TDisplayBitmap& b, int tolerance) {
    ASSERT_EQ(p.Width, W);
    ASSERT_EQ(p.Height, H);
    ASSERT_EQ(p.Channels, 3);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        uint32_t c;
        if (b.Format == TBitmapFormat::Indexed8) c = b.ColourTable[b.Row(y)[size_t(x)]];
        else c = PackRgb(b.Row(y)[size_t(3 * x + 2)], b.Row(y)[size_t(3 * x + 1)], b.Row(y)[size_t(3 * x)]);
        const unsigned char* s = &p.Samples[(size_t(y) * W + size_t(x)) * 3];
        EXPECT_NEAR(s[0], int(c >> 16 & 255), tolerance) << x << "," << y;
        EXPECT_NEAR(s[1], int(c >> 8 & 255), tolerance) << x << "," << y;
        EXPECT_NEAR(s[2], int(c & 255), tolerance) << x << "," << y;
      }
  }
};

TEST_F(WriterTest, BitmapFiles) {
  const TDisplayBitmap colour = ColourBitmap();
  ASSERT_TRUE(SaveBmpFile(colour, dir.file("c.bmp")));
  EXPECT_EQ(Magick("identify -format '%w %h %z' " + dir.file("c.bmp")), "9 4 8");
  ExpectPixels(Decode(dir.file("c.bmp")), colour, 0);
  const TDisplayBitmap gradient = IndexedBitmap(DtGradient);
  ASSERT_TRUE(SaveBmpFile(gradient, dir.file("p.bmp")));
  EXPECT_EQ(Magick("identify -format '%r' " + dir.file("c.bmp")).substr(0, 11), "DirectClass");
  EXPECT_EQ(Magick("identify -format '%r' " + dir.file("p.bmp")).substr(0, 11), "PseudoClass");
  ExpectPixels(Decode(dir.file("p.bmp")), gradient, 0);
}

TEST_F(WriterTest, PngFiles) {
  const TDisplayBitmap colour = ColourBitmap();
  ASSERT_TRUE(SavePngFile(colour, colour.Width > 0 ? 9 : 0, false, dir.file("c.png")));
  EXPECT_EQ(Magick("identify -format '%w %h %z %[png:IHDR.color_type]' " + dir.file("c.png")), "9 4 8 2 (Truecolor)");
  ExpectPixels(Decode(dir.file("c.png")), colour, 0);
  // Adam7 interlacing.
  ASSERT_TRUE(SavePngFile(colour, 1, true, dir.file("i.png")));
  EXPECT_EQ(Magick("identify -format '%[png:IHDR.interlace_method]' " + dir.file("i.png")), "1 (Adam7 method)");
  ExpectPixels(Decode(dir.file("i.png")), colour, 0);
  // Grey display: an 8-bit grey PNG; a coloured table: a palette PNG.
  const TDisplayBitmap grey = IndexedBitmap(DtGrey);
  ASSERT_TRUE(SavePngFile(grey, 5, false, dir.file("g.png")));
  EXPECT_EQ(Magick("identify -format '%[png:IHDR.color_type]' " + dir.file("g.png")), "0 (Grayscale)");
  ExpectPixels(Decode(dir.file("g.png")), grey, 0);
  const TDisplayBitmap red = IndexedBitmap(DtRed);
  ASSERT_TRUE(SavePngFile(red, 5, false, dir.file("r.png")));
  EXPECT_EQ(Magick("identify -format '%[png:IHDR.color_type]' " + dir.file("r.png")), "3 (Indexed)");
  ExpectPixels(Decode(dir.file("r.png")), red, 0);
}

TEST_F(WriterTest, JpegFiles) {
  const TDisplayBitmap colour = SmoothBitmap();
  ASSERT_TRUE(SaveJpegFile(colour, 100, false, dir.file("c.jpg")));
  EXPECT_EQ(Magick("identify -format '%w %h %Q %[colorspace]' " + dir.file("c.jpg")), "9 4 100 sRGB");
  ExpectPixels(Decode(dir.file("c.jpg")), colour, 4);
  // Quality 0 is written as 1.
  ASSERT_TRUE(SaveJpegFile(colour, 0, false, dir.file("q.jpg")));
  EXPECT_EQ(Magick("identify -format '%Q' " + dir.file("q.jpg")), "1");
  // A grey display gives a one-component JPEG.
  const TDisplayBitmap grey = IndexedBitmap(DtGrey);
  EXPECT_TRUE(JpegGreyOutput(grey, DtGrey));
  EXPECT_TRUE(JpegGreyOutput(grey, DtIsophotes));
  EXPECT_FALSE(JpegGreyOutput(grey, DtGradient));
  EXPECT_FALSE(JpegGreyOutput(colour, DtGrey));
  ASSERT_TRUE(SaveJpegFile(grey, 95, true, dir.file("g.jpg")));
  EXPECT_EQ(Magick("identify -format '%[colorspace] %[jpeg:sampling-factor]' " + dir.file("g.jpg")), "Gray 1x1");
  ExpectPixels(Decode(dir.file("g.jpg")), grey, 16);
  // The size estimate is the encoded size in whole KB.
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(EncodeJpeg(colour, 75, false, bytes));
  EXPECT_EQ(JpegSizeKB(colour, 75, false), int32_t(bytes.size() / 1024));
}

TEST_F(WriterTest, FailedWritesLeaveNothingBehind) {
  const TDisplayBitmap colour = ColourBitmap();
  EXPECT_FALSE(SavePngFile(colour, 5, false, dir.file("nofolder/x.png")));
  EXPECT_FALSE(SaveJpegFile(colour, 90, false, dir.file("nofolder/x.jpg")));
  EXPECT_FALSE(SaveBmpFile(colour, dir.file("nofolder/x.bmp")));
  // An existing file stays as it was when the new one cannot take its place.
  std::filesystem::create_directory(dir.file("taken.png"));
  EXPECT_FALSE(SavePngFile(colour, 5, false, dir.file("taken.png")));
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken.png")));
  EXPECT_FALSE(SavePngFile(TDisplayBitmap{}, 5, false, dir.file("empty.png")));
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 0);
}

}  // namespace
}  // namespace astrelon::test
