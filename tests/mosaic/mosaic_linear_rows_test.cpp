// The linear method's row routine: every lane width gives the per-parity sums
// of the one-pixel-at-a-time form bit for bit, also next to infinite, blank and
// negative-zero values, and a parity without a kernel is blank.
#include <cmath>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "pixelops/mosaic/mosaic_linear_rows.h"
#include "platform/processor_features.h"
#include "store/image_slot.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

// The plain form: each parity adds only its own taps, in kernel order.
std::vector<float> PlainRow(const float* row, int w, const TLinearRowTaps& t) {
  std::vector<float> out(size_t(w - 2));
  for (int x = 1; x <= w - 2; ++x) {
    const int p = x & 1;
    float sum = 0;
    for (int i = 0; i < t.Taps; ++i)
      if (t.Used[size_t(i)][size_t(p)])
        sum += t.Weight[size_t(i)][size_t(p)] * row[ptrdiff_t(t.Dy[size_t(i)]) * w + t.Dx[size_t(i)] + x];
    out[size_t(x - 1)] = t.Blank[size_t(p)] ? BlankPixel : sum;
  }
  return out;
}

TEST(MosaicLinearRows, EveryPathGivesThePlainSums) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-50.0f, 4000.0f);
  // Red on a red/green row (centre at even columns, left and right at odd ones),
  // green by the cross at even columns, and a parity without a kernel.
  TLinearRowTaps red;
  red.Taps = 2;
  red.Dy = {0, 0};
  red.Dx = {-1, 0};
  red.Weight[0] = {0.0f, 0.5f};
  red.Used[0] = {false, true};
  red.Weight[1] = {1.5f, 0.0f};
  red.Used[1] = {true, false};
  TLinearRowTaps cross;
  cross.Taps = 5;
  cross.Dy = {-1, 0, 0, 0, 1};
  cross.Dx = {0, -1, 0, 1, 0};
  for (int i : {0, 1, 3, 4}) {
    cross.Weight[size_t(i)] = {0.25f, 0.0f};
    cross.Used[size_t(i)] = {true, false};
  }
  cross.Weight[2] = {0.0f, -1.0f};
  cross.Used[2] = {false, true};
  TLinearRowTaps half = cross;
  half.Blank = {false, true};
  const bool avx2 = Avx2Enabled;
  // Wide rows take the streaming stores of whole cache lines, from any start.
  for (const int w : {3, 4, 9, 10, 17, 40, 61, 150, 203}) {
    std::vector<float> m(size_t(3 * w));
    for (float& v : m) v = u(rng);
    m[size_t(w + 1)] = std::numeric_limits<float>::infinity();  // only odd columns' own tap reads it
    m[size_t(w + 2 < 3 * w ? w + 2 : 0)] = -0.0f;
    m[size_t(2 * w - 2)] = BlankPixel;
    for (const TLinearRowTaps* t : {&red, &cross, &half}) {
      const std::vector<float> plain = PlainRow(m.data() + w, w, *t);
      for (const int path : {0, 1, 2})
        for (const size_t start : {0, 1, 3}) {
          Avx2Enabled = path == 2 && avx2;
          std::vector<float> buffer(size_t(w - 2) + start, 7.0f);
          const std::span<float> out(buffer.data() + start, size_t(w - 2));
          LinearMosaicRow(m.data() + w, w, *t, out.data(), path > 0);
          FinishStreamedRows();
          for (int x = 0; x < w - 2; ++x)
            ASSERT_EQ(std::signbit(out[size_t(x)]), std::signbit(plain[size_t(x)])) << w << " " << x;
          EXPECT_EQ(std::vector<float>(out.begin(), out.end()), plain) << "width " << w << " path " << path;
        }
    }
  }
  Avx2Enabled = avx2;
}

}  // namespace
}  // namespace astrelon::test
