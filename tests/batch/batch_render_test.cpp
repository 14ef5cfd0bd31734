// The plain rendering of a slot that the batch saves as BMP or PNG: its bytes,
// channel order and factor, and the pixels of the written files as an
// independent reader (Python's imaging library) decodes them.
#include <cmath>
#include <limits>

#include "batch_run_fixture.h"
#include "store/display/render_image_bitmap.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

// The bitmap's pixels as red, green, blue triples, row by row.
std::vector<uint8_t> Rgb(const TDisplayBitmap& b) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.Height; ++y)
    for (int x = 0; x < b.Width; ++x) {
      const auto row = b.Row(y);
      if (b.Format == TBitmapFormat::Bgr24) {
        out.insert(out.end(), {row[size_t(3 * x + 2)], row[size_t(3 * x + 1)], row[size_t(3 * x)]});
      } else {
        const uint32_t c = b.ColourTable[row[size_t(x)]];
        out.insert(out.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
      }
    }
  return out;
}

std::vector<uint8_t> Bytes(const TDisplayBitmap& b) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.Height; ++y) {
    const auto row = b.Row(y);
    out.insert(out.end(), row.begin(), row.begin() + b.Width * b.BytesPerPixel());
  }
  return out;
}

class BatchRenderTest : public BatchRunTest {};

// Factor 255 / maximum; halves round to even in 64 bits; a blank, NaN or
// negative value gives 0; the factor is 1 when the maximum is 0 or below.
TEST_F(BatchRenderTest, BytesAndChannelOrder) {
  const struct {
    std::vector<std::vector<float>> Planes;
    std::vector<uint8_t> Want;  // bitmap bytes: grey, or blue, green, red per pixel
  } cases[] = {
      // Maximum 510: factor 0.5; 255 -> 127.5 -> 128, 1 -> 0.5 -> 0, 3 -> 1.5 -> 2.
      {{{BlankPixel, NaN, 510, 255, 1, 3, -3}}, {0, 0, 255, 128, 0, 2, 0}},
      // Maximum 1000: 1.9607843f × 0.255 is just above 0.5 in 64 bits (in 32 bits exactly 0.5).
      {{{1000, 1.9607843160629272f}}, {255, 1}},
      // Every value 0 or below: factor 1, not a negative one.
      {{{-2, -1, -0.4f, 0}}, {0, 0, 0, 0}},
      {{{BlankPixel, BlankPixel}}, {0, 0}},
      // Colour: blue, green, red = planes 3, 2, 1 at the factor of the maximum over all
      // planes (12.75): 10 -> 127.5 -> 128.
      {{{20, BlankPixel}, {1, 10}, {-5, 5}}, {0, 13, 255, 64, 128, 0}},
  };
  for (const auto& c : cases) {
    const int n = int(c.Planes[0].size());
    MakeImage(1, n, 1, c.Planes);
    TDisplayBitmap b;
    ASSERT_TRUE(RenderImageToBitmap(1, RenderFactor(ImageMaximum(1)), b));
    EXPECT_EQ(b.Format, c.Planes.size() == 3 ? TBitmapFormat::Bgr24 : TBitmapFormat::Indexed8);
    EXPECT_EQ(Bytes(b), c.Want) << c.Planes[0][0];
    if (b.Format == TBitmapFormat::Indexed8)
      for (int i : {0, 77, 255}) EXPECT_EQ(b.ColourTable[size_t(i)], PackRgb(uint32_t(i), uint32_t(i), uint32_t(i)));
  }
  for (double m : {0.0, -3.0, double(NaN)}) EXPECT_EQ(RenderFactor(m), 1.0) << m;
}

// A batch with a ".bmp" and a ".png" target writes files whose decoded pixels
// are the rendering of the result.
TEST_F(BatchRenderTest, WrittenFilesDecodeToTheRendering) {
  const int w = 7, h = 3;
  std::vector<std::vector<float>> grey(1), colour(3);
  for (int i = 0; i < w * h; ++i) {
    grey[0].push_back(i == 4 ? BlankPixel : float(i * 37 % 101) - 10.5f);
    for (int p = 0; p < 3; ++p) colour[size_t(p)].push_back(float((i * (p + 3)) % 29) * 7.25f - 3.0f);
  }
  std::filesystem::create_directories(dir.path() / "out");
  for (const auto& [name, planes] : {std::pair{"g", grey}, std::pair{"c", colour}}) {
    const std::string input = WriteImage(std::string(name) + ".fit", w, h, planes);
    // The rendering of the input as the batch loads it ("Wert addieren" 0 changes nothing).
    ASSERT_TRUE(LoadImageFile(2, input));
    TDisplayBitmap want;
    ASSERT_TRUE(RenderImageToBitmap(2, RenderFactor(ImageMaximum(2)), want));
    FreeSlot(2);
    for (const char* ext : {"bmp", "png"}) {
      ResetRun();
      BatchSteps = TBatchStepList();
      const std::string target = dir.file("out/" + std::string(name) + "." + ext);
      Files(input, target);
      Steps({4});
      Step(2).Values[0] = "0";
      ASSERT_TRUE(Start());
      Run();
      const std::string file = dir.file("out/" + std::string(name) + "_0001." + (ext[0] == 'b' ? "BMP" : "PNG"));
      ASSERT_TRUE(Exists(file)) << file;
      const std::string raw = dir.file("decoded.raw");
      ASSERT_TRUE(RunPython("from PIL import Image\n"
                            "im = Image.open('" + file + "')\n"
                            "assert im.size == (" + std::to_string(w) + ", " + std::to_string(h) + "), im.size\n"
                            "open('" + raw + "', 'wb').write(im.convert('RGB').tobytes())\n"));
      EXPECT_EQ(ReadAll(raw), Rgb(want)) << file;
    }
  }
}

}  // namespace
}  // namespace astrelon::test
