#include "pixelops/colour/remove_colour_fringes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "core/settings.h"
#include "pixelops/colour/median25_network.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr float NoValue = std::numeric_limits<float>::quiet_NaN();

// The median of the n > 0 values as Percentile(0.5) gives it: the middle value,
// or for an even count the mean of the two middle ones (the values are reordered).
float MedianOf(float* v, int n) {
  const int k = (n - 1) / 2;
  std::nth_element(v, v + k, v + n);
  const double lower = v[k];
  if (n % 2 == 1) return float(lower);
  const double upper = *std::min_element(v + k + 1, v + n);
  return float(lower + (upper - lower) * 0.5);
}

struct TOffset {
  int32_t dx, dy;
};

#if ASTRELON_HAVE_AVX2
// Eight pixels whose 5 x 5 windows lie inside the rectangle: `diff` points at
// the first one's difference, `green` and `out` at its plane values. False
// (nothing written) when a window holds a blank or a green value is blank.
ASTRELON_AVX2 bool FullWindows8(const float* diff, size_t rw, const float* green, float* out) {
  __m256 v[median25::Width];
  __m256 bad = _mm256_setzero_ps();
  for (int dy = -2, k = 0; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx, ++k) {
      v[k] = _mm256_loadu_ps(diff + int64_t(dy) * int64_t(rw) + dx);
      bad = _mm256_or_ps(bad, _mm256_cmp_ps(v[k], v[k], _CMP_UNORD_Q));
    }
  const __m256 g = _mm256_loadu_ps(green);
  bad = _mm256_or_ps(bad, _mm256_cmp_ps(g, _mm256_set1_ps(-1e9f), _CMP_NGT_UQ));
  if (_mm256_movemask_ps(bad) != 0) return false;
  _mm256_storeu_ps(out, _mm256_add_ps(median25::MiddleOf25x8(v), g));
  return true;
}
#endif

}  // namespace

void RemoveColourFringes(int source, int destination, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t r,
                         bool vector) {
  (void)vector;  // only the eight-pixel path reads it
  if (!SlotInUse(source) || !SlotInUse(destination)) return;
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(destination)];
  const int32_t width = d.Width, height = d.Height;
  if (s.Width != width || s.Height != height || s.PlaneCount < 3 || d.PlaneCount < 3) return;
  const size_t n = d.PixelCount();
  for (int p = 1; p <= 3; ++p)
    if (s.Planes[size_t(p)].size() < n || d.Planes[size_t(p)].size() < n) return;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, width - 1);
  y2 = std::min(y2, height - 1);
  if (x1 > x2 || y1 > y2) return;

  std::vector<TOffset> offsets;
  for (int32_t dy = -2; dy <= 2; ++dy)
    for (int32_t dx = -2; dx <= 2; ++dx)
      if (std::abs(dx) + std::abs(dy) < r) offsets.push_back({dx, dy});
  if (offsets.empty()) return;
  [[maybe_unused]] const bool full = offsets.size() == 25;

  // The differences inside the rectangle, NaN where one of the two is blank.
  const int32_t rw = x2 - x1 + 1, rh = y2 - y1 + 1;
  const float* green = d.Planes[2].data();
  std::vector<float> diff(size_t(rw) * size_t(rh));
  const int threads = BandThreads(rh, 16, Options.Multicore != 0);
  for (int p = 1; p <= 3; p += 2) {
    const float* sp = s.Planes[size_t(p)].data();
    float* dp = d.Planes[size_t(p)].data();
    ForEachBand(rh, threads, [&](int64_t first, int64_t last) {
      for (int64_t j = first; j < last; ++j) {
        const size_t at = size_t(y1 + j) * size_t(width) + size_t(x1);
        float* out = diff.data() + size_t(j) * size_t(rw);
        for (int32_t i = 0; i < rw; ++i) {
          const float a = sp[at + size_t(i)], g = green[at + size_t(i)];
          out[i] = a > -1e9f && g > -1e9f ? a - g : NoValue;
        }
      }
    });
    ForEachBand(rh, threads, [&](int64_t first, int64_t last) {
      std::array<float, median25::Width> window;
      for (int64_t j = first; j < last; ++j) {
        const size_t at = size_t(y1 + j) * size_t(width) + size_t(x1);
        // Runs of eight whole windows, where the rows allow them.
        [[maybe_unused]] int32_t wholeFrom = rw, wholeTo = rw;
#if ASTRELON_HAVE_AVX2
        if (full && UseAvx2(vector) && j >= 2 && j + 2 < rh) wholeFrom = 2, wholeTo = rw - 2;
#endif
        for (int32_t i = 0; i < rw; ++i) {
#if ASTRELON_HAVE_AVX2
          if (i >= wholeFrom && i + 8 <= wholeTo &&
              FullWindows8(diff.data() + size_t(j) * size_t(rw) + size_t(i), size_t(rw), green + at + size_t(i),
                           dp + at + size_t(i))) {
            i += 7;
            continue;
          }
#endif
          const float g = green[at + size_t(i)];
          if (!(g > -1e9f)) continue;
          int count = 0;
          for (const TOffset o : offsets) {
            const int64_t u = i + o.dx, v = j + o.dy;
            if (u < 0 || v < 0 || u >= rw || v >= rh) continue;
            const float x = diff[size_t(v) * size_t(rw) + size_t(u)];
            if (x == x) window[size_t(count++)] = x;
          }
          if (count == 25)
            dp[at + size_t(i)] = median25::MiddleOf25(window) + g;
          else if (count > 0)
            dp[at + size_t(i)] = MedianOf(window.data(), count) + g;
        }
      }
    });
  }
}

}  // namespace astrelon
