// YCbCr rows to RGB: the AVX2 loop gives the scalar loop's bytes, and both stay
// within one level of the BT.601 formulas.
#include "platform/yuv_to_rgb.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "platform/processor_features.h"

namespace astrelon {
namespace {

TEST(YuvToRgb, VectorAndScalarAgreeAndFollowTheFormulas) {
  DetectCpuFeatures();
  const bool savedAvx2 = Avx2Enabled;
  Avx2Enabled = true;
  constexpr int W = 77;  // several blocks of 16 and a tail
  std::vector<uint8_t> y(W), cb(W), cr(W);
  uint32_t seed = 99;
  auto next = [&] { return uint8_t((seed = seed * 1664525u + 1013904223u) >> 24); };
  for (int k = 0; k < W; ++k) y[k] = next(), cb[k] = next(), cr[k] = next();
  y[0] = 0, cb[0] = 0, cr[0] = 255;  // the corners of the range clip
  y[1] = 255, cb[1] = 255, cr[1] = 0;
  for (const int shift : {0, 1})
    for (const bool full : {true, false}) {
      SCOPED_TRACE(testing::Message() << "shift " << shift << " full " << full);
      const TYuvRow row{y.data(), cb.data(), cr.data(), W, shift, full};
      std::vector<uint8_t> scalar(3 * W), vector(3 * W);
      YuvRowToRgb(row, scalar.data(), false);
      YuvRowToRgb(row, vector.data(), true);
      EXPECT_EQ(scalar, vector);
      for (int x = 0; x < W; ++x) {
        const double Y = full ? y[x] : (y[x] - 16) * 255.0 / 219;
        const double s = full ? 1.0 : 255.0 / 224;
        const double b = (cb[size_t(x >> shift)] - 128) * s, r = (cr[size_t(x >> shift)] - 128) * s;
        const double rgb[3] = {Y + 1.402 * r, Y - 0.344136 * b - 0.714136 * r, Y + 1.772 * b};
        for (int c = 0; c < 3; ++c)
          EXPECT_NEAR(scalar[size_t(3 * x + c)], std::clamp(rgb[c], 0.0, 255.0), 1.0) << "x " << x << " c " << c;
      }
    }
  Avx2Enabled = savedAvx2;
}

}  // namespace
}  // namespace astrelon
