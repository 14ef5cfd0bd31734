// The row routine of the red and blue fills: the vector lanes and the scalar
// twin give the same values bit for bit, for differences and ratios (greens on
// both sides of the offset, equal largest samples, flat and zero areas).
#include <cstring>
#include <random>
#include <vector>

#include "kernels/mosaic/colour_fill_rows.h"
#include "platform/processor_features.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

std::vector<uint32_t> Bits(const std::vector<float>& v) {
  std::vector<uint32_t> b(v.size());
  std::memcpy(b.data(), v.data(), v.size() * 4);
  return b;
}

TEST(ColourFillRows, VectorLanesGiveTheScalarValues) {
  std::mt19937 rng(13);
  const int h = 7;
  const bool avx2 = Avx2Enabled;
  for (const int w : {5, 8, 21, 38, 67}) {
    std::vector<float> m(size_t(w * h)), g(size_t(w * h));
    for (size_t i = 0; i < m.size(); ++i) {
      // Few distinct values: equal samples and equal greens are common.
      m[i] = float(rng() % 6) * 100.0f - 50.0f;
      g[i] = rng() % 7 == 0 ? 0.0f : float(rng() % 5) * 40.0f;
    }
    for (const bool ratio : {false, true})
      for (const TMosaicCells cells : {TMosaicCells{McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1},
                                       TMosaicCells{McGreen, McRed, McBlue, McGreen, -1, -1, -1, -1}}) {
        std::vector<std::vector<float>> got;
        for (const int path : {0, 1, 2}) {
          Avx2Enabled = path == 2 && avx2;
          std::vector<float> r(size_t(w * h), 1.0f), b(size_t(w * h), 2.0f);
          const TColourFillRow row{m.data(), g.data(), r.data(), b.data(), w, h, 0.3f, 60.0f, ratio};
          for (int y = 2; y <= h - 3; ++y) FillRedBlueRow(row, cells, y, path > 0);
          r.insert(r.end(), b.begin(), b.end());
          got.push_back(r);
        }
        EXPECT_EQ(Bits(got[1]), Bits(got[0])) << w << " ratio " << ratio;
        EXPECT_EQ(Bits(got[2]), Bits(got[0])) << w << " ratio " << ratio;
      }
  }
  Avx2Enabled = avx2;
}

}  // namespace
}  // namespace astrelon::test
