// JPEG artefact reduction: the quality estimates on files made by cjpeg, the
// deblocking against the original picture, the level of bright and constant
// images, blank pixels, and the same result at every thread count.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "pixelops/spatial/jpeg_deblock.h"
#include "pixelops/spatial/jpeg_quality_estimate.h"
#include "platform/processor_features.h"
#include "slot_images.h"
#include "store/image_loader.h"
#include "store/pictures/pnm_reader.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class JpegArtefactTest : public StoreTest {
protected:
  // The original picture compressed by cjpeg at `quality`, loaded into `slot`.
  void LoadCompressed(int slot, int quality, const std::string& original = "libjpeg-turbo/testorig.ppm") {
    const std::string jpg = dir_.file("q" + std::to_string(quality) + ".jpg");
    const std::string command =
        "cjpeg -quality " + std::to_string(quality) + " " + DataFile(original) + " 2>/dev/null > " + jpg;
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(LoadImageFile(slot, jpg));
    ASSERT_EQ(Store.Image[size_t(slot)].JpegFileSize, int32_t(std::filesystem::file_size(jpg)));
  }
  TempDir dir_;
};

double Psnr(int a, int b) {
  double sum = 0;
  size_t n = 0;
  for (int p = 1; p <= Store.Image[size_t(a)].PlaneCount; ++p) {
    const auto x = Plane(a, p), y = Plane(b, p);
    for (size_t i = 0; i < x.size(); ++i, ++n) sum += (double(x[i]) - y[i]) * (double(x[i]) - y[i]);
  }
  return 10 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

// Mean step between the columns 8k − 1 and 8k of plane 1, over the mean step
// between other neighbours: above 1 where a block pattern shows.
double BlockEdgeExcess(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  double edge = 0, inner = 0;
  int64_t ne = 0, ni = 0;
  for (int y = 0; y < im.Height; ++y)
    for (int x = 0; x + 1 < im.Width; ++x) {
      const double d = std::fabs(double(im.At(1, x, y)) - im.At(1, x + 1, y));
      if (x % 8 == 7) {
        edge += d;
        ++ne;
      } else {
        inner += d;
        ++ni;
      }
    }
  return (edge / double(ne)) / (inner / double(ni));
}

TEST_F(JpegArtefactTest, EstimatesTheQualityOfCjpegFiles) {
  for (const int quality : {30, 75}) {
    LoadCompressed(1, quality);
    const TQualityEstimate estimate = EstimateJpegQuality(1);
    EXPECT_FALSE(estimate.Aborted);
    EXPECT_NEAR(estimate.Quality, quality, 5) << quality;
    FreeSlot(1);
  }
  // A file at quality 100 ends the size search at 99.
  LoadCompressed(1, 100);
  const TQualityRange range = EstimateJpegQualityBySize(1);
  EXPECT_EQ(range.Low, 99);
  EXPECT_EQ(range.High, 99);
  // Without a file size the range stays open.
  Store.Image[1].JpegFileSize = -1;
  EXPECT_EQ(EstimateJpegQualityBySize(1).Low, 1);
  EXPECT_EQ(EstimateJpegQualityBySize(1).High, 100);
}

TEST_F(JpegArtefactTest, DeblockingComesCloserToTheOriginal) {
  const char* bird = "libjpeg-turbo/shira_bird8.bmp";
  ASSERT_TRUE(LoadImageFile(3, DataFile(bird)));
  for (const int quality : {30, 75}) {
    LoadCompressed(1, quality, bird);
    ASSERT_TRUE(CopyImageSlot(1, 2));
    ReduceJpegArtefacts(1, 2, quality);
    EXPECT_GT(Psnr(2, 3), Psnr(1, 3)) << quality;
    EXPECT_LT(BlockEdgeExcess(2), BlockEdgeExcess(1)) << quality;
    FreeSlot(1);
    FreeSlot(2);
  }
  // Low qualities smooth the colour differences too.
  LoadCompressed(1, 10, bird);
  ASSERT_TRUE(CopyImageSlot(1, 2));
  ReduceJpegArtefacts(1, 2, 10);
  EXPECT_GT(Psnr(2, 3), Psnr(1, 3));
}

TEST_F(JpegArtefactTest, KeepsTheLevelOfFlatBrightAndBlankImages) {
  const int w = 40, h = 24;
  // A constant stays; beyond 8 bits the level ratio restores the scale, and too
  // few measurable pixels fall back to the render scale.
  for (const float level : {128.0f, 5000.0f}) {
    std::vector<float> flat(size_t(w * h), level), out(flat.size());
    ASSERT_TRUE(JpegDeblockPlane(flat, w, h, 50, out, 4));
    for (float v : out) ASSERT_NEAR(v, level, level / 255.0f) << level;
  }
  std::vector<float> dark(size_t(w * h), 0.0f), out(dark.size());
  dark[size_t(5 * w + 5)] = 4000;
  ASSERT_TRUE(JpegDeblockPlane(dark, w, h, 90, out, 2));
  EXPECT_NEAR(out[size_t(5 * w + 5)], 4000, 1500);
  EXPECT_NEAR(out[0], 0, 20);

  // Blank pixels stay blank and do not spread.
  std::vector<float> withBlank(size_t(w * h), 100.0f);
  withBlank[size_t(10 * w + 10)] = BlankPixel;
  ASSERT_TRUE(JpegDeblockPlane(withBlank, w, h, 50, out, 3));
  EXPECT_EQ(out[size_t(10 * w + 10)], BlankPixel);
  EXPECT_TRUE(IsValidPixel(out[size_t(10 * w + 11)]));
}

TEST_F(JpegArtefactTest, SameResultOnEveryPathAndThreadCountAndStopsOnRequest) {
  ASSERT_TRUE(LoadPnmFile(1, DataFile("libjpeg-turbo/testorig.ppm")));
  const TImageSlot& im = Store.Image[1];
  std::vector<float> one(im.PixelCount()), many(im.PixelCount());
  ASSERT_TRUE(JpegDeblockPlane(im.Plane(2), im.Width, im.Height, 40, one, 1));
  ASSERT_TRUE(JpegDeblockPlane(im.Plane(2), im.Width, im.Height, 40, many, 8));
  EXPECT_EQ(0, std::memcmp(one.data(), many.data(), one.size() * sizeof(float)));
  const bool sse2 = Sse2Enabled;
  for (const bool vector : {false, true}) {
    Sse2Enabled = vector;
    ASSERT_TRUE(JpegDeblockPlane(im.Plane(2), im.Width, im.Height, 40, many, 3));
    EXPECT_EQ(0, std::memcmp(one.data(), many.data(), one.size() * sizeof(float))) << vector;
  }
  Sse2Enabled = sse2;

  int calls = 0;
  ASSERT_TRUE(JpegDeblockPlane(im.Plane(2), im.Width, im.Height, 40, many, 4, [&](int position) {
    ++calls;
    EXPECT_EQ(position, 4);
    return false;
  }));
  EXPECT_EQ(calls, 1);
  EXPECT_NE(0, std::memcmp(one.data(), many.data(), one.size() * sizeof(float)));
}

}  // namespace
}  // namespace astrelon::test
