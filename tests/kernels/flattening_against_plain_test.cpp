// Background flattening value by value against its plain writing-out
// (plain_flattening.h) on vignetting bowls with many stars, up to the edges
// and in the corners: MinBlur for "Nebel" (n = 3) and "Sterne" (n = 5), the
// automatic flattening, and the running-percentile flattening of the whole
// image, of rectangles fitted into the image around them, in mask mode and
// keeping the background only. MinBlur agrees bit for bit; the flattened
// values within 0.002 (a few float steps at levels of 1000 to 2000: the last
// bits of the sums of the Gaussian, the percentiles and the edge fits).
#include <cmath>
#include <ostream>
#include <string>

#include "../pixelops/slot_images.h"
#include "gradient_sky.h"
#include "kernels/background/background_flattening.h"
#include "plain_flattening.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

// The largest |difference| between two planes, and where it lies.
struct TWorst {
  double Difference = 0;
  size_t At = 0;
};
TWorst Worst(const std::vector<float>& a, const std::vector<float>& b) {
  TWorst worst;
  if (a.size() != b.size()) return {1e30, 0};
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = std::fabs(double(a[i]) - double(b[i]));
    if (!(d <= worst.Difference)) worst = {std::isnan(d) ? 1e30 : d, i};
  }
  return worst;
}

std::string Where(const TWorst& w, int width) {
  return std::to_string(w.At % size_t(width)) + "," + std::to_string(w.At / size_t(width)) + " by " +
         std::to_string(w.Difference);
}

// Bowls of several sizes and depths with stars everywhere (Margin 0: on the
// border rows too); one with blank pixels.
struct TBowl {
  const char* Name;
  TSkyShape Shape;
  bool Blanks;
  int Index;
};

TSkyShape Bowl(int w, int h, double bowl, double power, int stars, double rampX, uint32_t seed) {
  return {.W = w, .H = h, .RampX = rampX, .RampY = rampX / 2, .Bowl = bowl, .BowlPower = power, .Stars = stars,
          .Margin = 0, .Seed = seed};
}

const TBowl Bowls[] = {
    {"Wide601x397", Bowl(601, 397, 300, 2, 400, 200, 3), false, 0},
    {"Steep467x311", Bowl(467, 311, 600, 4, 300, 0, 4), false, 1},
    {"Tall233x361WithBlanks", Bowl(233, 361, 300, 2, 150, 400, 5), true, 2},
};

std::vector<float> Image(const TBowl& b, const TSkyShape& shape) {
  std::vector<float> v = MakeSky(shape).Image;
  if (b.Blanks)
    for (size_t i = 7; i < v.size(); i += 1013) v[i] = BlankPixel;
  return v;
}

void PrintTo(const TBowl& b, std::ostream* os) { *os << b.Name; }

class FlatteningAgainstPlainTest : public StoreTest, public ::testing::WithParamInterface<TBowl> {};

TEST_P(FlatteningAgainstPlainTest, MinBlurAndTheAutomaticFlatteningGiveThePlainValues) {
  const TBowl& b = GetParam();
  const int w = b.Shape.W, h = b.Shape.H;
  const std::vector<float> s = Image(b, b.Shape);
  for (int n : {3, 5}) {
    // The background estimate alone.
    PutImage(1, w, h, {s});
    PutImage(2, w, h, {s});
    const int32_t radius = AutoFlattenRadius(w, n);
    ASSERT_TRUE(MinBlur(1, 2, 1, -radius, 1, false, 2));
    const std::vector<float> background = plain::AutoBackground(s, w, h, n);
    const TWorst blur = Worst(Plane(2, 1), background);
    EXPECT_EQ(blur.Difference, 0) << "MinBlur n = " << n << " at " << Where(blur, w);
    // The whole flattening.
    PutImage(2, w, h, {s});
    ASSERT_TRUE(FlattenBackgroundAuto(1, 2, n, false));
    const TWorst flat = Worst(Plane(2, 1), plain::FlattenFromBackground(s, background, w, h));
    EXPECT_LT(flat.Difference, 0.002) << "n = " << n << " at " << Where(flat, w);
  }
}

TEST_P(FlatteningAgainstPlainTest, TheRunningPercentileGivesThePlainValues) {
  // The bowls at half the size (the windows' reach stays).
  const TBowl& b = GetParam();
  TSkyShape shape = b.Shape;
  shape.W = shape.W / 2 + 1;
  shape.H /= 2;
  shape.Stars /= 4;
  const int w = shape.W, h = shape.H;
  const std::vector<float> s = Image(b, shape);
  // A mask with a painted disc and a masked band along the right edge.
  std::vector<uint8_t> mask(s.size(), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((x - w / 3) * (x - w / 3) + (y - h / 2) * (y - h / 2) < 900 || x > w - 6) mask[size_t(y) * w + x] = 1;
  // The whole image on every bowl, the rectangles (fitted into the image on
  // one to four sides) each on one bowl.
  struct TRun {
    const char* Name;
    plain::TMaskedRun Run;
    int Bowl = -1;
  };
  const auto run = [&](float radius, int x1, int y1, int x2, int y2, double q, bool backgroundOnly, bool masked) {
    plain::TMaskedRun r;
    r.Radius = radius;
    r.X1 = x1, r.Y1 = y1, r.X2 = x2, r.Y2 = y2;
    r.Fraction = q;
    r.BackgroundOnly = backgroundOnly;
    r.Masked = masked;
    r.Mask = masked ? &mask : nullptr;
    return r;
  };
  const TRun runs[] = {
      {"variabel", run(40, 0, 0, w - 1, h - 1, 0.25, false, false), -1},
      {"rectangle with room below only", run(15, 0, 0, w - 1, h / 2, 0.25, false, false), 2},
      {"inner rectangle", run(20, w / 10, h / 9, w - w / 7, h - h / 6, 0.25, false, false), 0},
      {"rectangle at the top left", run(25, 0, 0, w * 2 / 3, h * 3 / 4, 0.35, false, false), 1},
      {"rectangle at the right", run(12, w / 3, 3, w - 1, h - 4, 0.25, false, false), 2},
      {"mask", run(7, 0, 0, w - 1, h - 1, 0.35, false, true), -1},
      {"mask, wide radius", run(30, 0, 0, w - 1, h - 1, 0.35, false, true), -1},
      {"background only", run(30, 0, 0, w - 1, h - 1, 0.35, true, false), -1},
      {"radius below 1", run(0.6f, 0, 0, w - 1, h - 1, 0.25, false, false), -1},
  };
  for (const TRun& r : runs) {
    if (r.Bowl >= 0 && r.Bowl != b.Index) continue;
    const plain::TMaskedRun& p = r.Run;
    PutImage(1, w, h, {s});
    PutImage(2, w, h, {s});
    ASSERT_TRUE(FlattenBackgroundMasked(1, 2, p.Radius, p.X1, p.Y1, p.X2, p.Y2, false, p.BackgroundOnly, p.Masked,
                                        "", 2, p.Fraction, nullptr, p.Masked ? std::span<const uint8_t>(mask)
                                                                              : std::span<const uint8_t>()));
    std::vector<float> plain = s;
    plain::FlattenMasked(s, plain, w, h, p);
    const TWorst worst = Worst(Plane(2, 1), plain);
    EXPECT_LT(worst.Difference, 0.002) << r.Name << " at " << Where(worst, w);
  }
}

INSTANTIATE_TEST_SUITE_P(Bowls, FlatteningAgainstPlainTest, ::testing::ValuesIn(Bowls),
                         [](const ::testing::TestParamInfo<TBowl>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace astrelon::test
