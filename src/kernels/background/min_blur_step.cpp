#include "kernels/background/min_blur_step.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "kernels/background/min_blur_rows.h"
#include "kernels/gauss/filter_rows.h"
#include "platform/simd_support.h"

namespace astrelon {

namespace {

constexpr double Sin45 = 0.70710678118654752440;

// Bands of whole rows, one per thread: a row's windows read at most 2 r + 1
// rows of each plane, which stay in the cache while the band runs down, and
// the processor fetches whole rows ahead itself.
int BandCount(int32_t width, int32_t height) {
  return std::min<int>(height, FilterThreads(int64_t(width) * height));
}

}  // namespace

TMinBlurStencil MinBlurStencil(int32_t reach, float scale) {
  TMinBlurStencil s;
  const int32_t r = std::max(std::abs(reach), 1);
  const int32_t k = int32_t(std::nearbyint(r * Sin45));
  const double wd = r * Sin45 / k;
  s.Reach = r;
  s.K = k;
  s.Diagonal = wd;
  s.Dx = {-k, 0, k, -r, r, -k, 0, k};
  s.Dy = {-k, -r, -k, 0, 0, k, r, k};
  s.Weight = {wd, 1, wd, 1, 1, wd, 1, wd};
  s.Centre = (4 * wd + 4) * double(scale);
  return s;
}

void MinBlurStepPlane(std::span<const float> reference, std::span<const float> work, std::span<float> out,
                      int32_t width, int32_t height, float scale, int32_t reach, bool vector) {
  if (width < 1 || height < 1) return;
  const size_t n = size_t(width) * size_t(height);
  if (reference.size() < n || work.size() < n || out.size() < n) return;
  const TMinBlurStencil stencil = MinBlurStencil(reach, scale);
  const bool avx2 = UseAvx2(vector);
  const TStepRows a{reference.data(), size_t(width), 0}, w{work.data(), size_t(width), 0};
  const int bands = BandCount(width, height);
  ForEachBand(bands, bands, [&](int64_t first, int64_t last) {
    TRowWindows rows(stencil, reach < 0, width, height, size_t(width), avx2);
    const int32_t y0 = int32_t(int64_t(height) * first / bands), y1 = int32_t(int64_t(height) * last / bands);
    for (int32_t y = y0; y < y1; ++y) rows.Blur(a, w, out.data() + size_t(y) * size_t(width), y);
  });
}

bool MinBlurPairFits(int32_t width, int32_t height, int32_t reach1, int32_t reach2) {
  if (width < 1 || height < 1) return false;
  const int64_t r1 = std::min<int64_t>(std::max(std::abs(reach1), 1), height);
  const int64_t r2 = std::min<int64_t>(std::max(std::abs(reach2), 1), height);
  const int bands = BandCount(width, height);
  // Each thread holds the first step's rows of both planes and the window of
  // the second step's input; together in its share of half the L3.
  const int64_t rowBytes = int64_t(width) * int64_t(sizeof(float));
  const int64_t held = (2 * r1 + 1) * 2 * rowBytes + (2 * r2 + 1) * rowBytes;
  const int64_t share = std::max<int64_t>((int64_t(24) << 20) / bands, int64_t(3) << 20);
  // A band makes 2 r2 rows of the first step beside its own (a quarter more at most).
  const int64_t bandRows = height / bands;
  return held <= share && 8 * r2 <= bandRows;
}

void MinBlurStepPairPlane(std::span<const float> reference, std::span<const float> work, std::span<float> out,
                          int32_t width, int32_t height, float scale, int32_t reach1, int32_t reach2, bool vector) {
  if (width < 1 || height < 1) return;
  const size_t n = size_t(width) * size_t(height);
  if (reference.size() < n || work.size() < n || out.size() < n) return;
  const TMinBlurStencil first = MinBlurStencil(reach1, scale), second = MinBlurStencil(reach2, scale);
  const bool avx2 = UseAvx2(vector);
  const TStepRows a{reference.data(), size_t(width), 0}, w{work.data(), size_t(width), 0};
  const int32_t r2 = std::min(second.Reach, height);
  // The first step's rows within r2 of the row the second step makes, in a
  // window of rows per band: when it is full, the 2 r2 rows still read move to
  // its start.
  const int32_t capacity = std::min(height, 2 * r2 + 1 + std::max(2 * r2 + 1, 32));
  const int bands = BandCount(width, height);
  ForEachBand(bands, bands, [&](int64_t firstBand, int64_t lastBand) {
    const auto buffer = std::make_unique_for_overwrite<float[]>(size_t(capacity) * size_t(width));
    for (int64_t band = firstBand; band < lastBand; ++band) {
      const int32_t y0 = int32_t(int64_t(height) * band / bands), y1 = int32_t(int64_t(height) * (band + 1) / bands);
      TRowWindows firstRows(first, reach1 < 0, width, height, size_t(width), avx2),
          secondRows(second, reach2 < 0, width, height, size_t(width), avx2);
      int32_t made = std::max(0, y0 - r2);  // the next row of the first step
      TStepRows m{buffer.get(), size_t(width), made};
      for (int32_t y = y0; y < y1; ++y) {
        for (const int32_t need = std::min(height - 1, y + r2); made <= need; ++made) {
          if (made - m.First == capacity) {
            std::copy(m.Row(made - 2 * r2), m.Row(made), buffer.get());
            m.First = made - 2 * r2;
          }
          firstRows.Blur(a, w, buffer.get() + size_t(made - m.First) * size_t(width), made);
        }
        secondRows.Blur(a, m, out.data() + size_t(y) * size_t(width), y);
      }
    }
  });
}

}  // namespace astrelon
