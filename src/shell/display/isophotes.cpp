// Isophote lines. Each inner pixel is compared with its step ceiling q; the
// pixels are changed in place, so later pixels see the lines drawn before them.
//
// Bands of rows on threads: row y ends up as a function of the unchanged rows
// y - 1 .. y + 1 and of the pixels of row y - 1 that became lines, so a band
// needs only its first row's upper neighbour as it ends up. That row's line
// pixels are found from the unchanged picture before any band starts: a pixel
// that the rule does not settle from its own neighbours is a line exactly when
// the pixel above it is not, and the pixels above lie in ever higher brightness
// steps, so the walk upwards ends within a few rows.
#include "shell/display/isophotes.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/parallel_bands.h"

namespace astrelon {

namespace {

template <class T, class Ceiling>
struct TIsophoteRule {
  const T* P;
  int32_t Width;
  int64_t Stride;
  T Line;
  Ceiling Q;

  const T* Row(int32_t y) const { return P + y * Stride; }
  // Inner pixel x of inner row y is a line by its own row and the row below.
  bool Direct(int32_t y, int32_t x) const {
    const auto q = Q(Row(y)[x]);
    return q < Row(y)[x + 1] || q < Row(y + 1)[x];
  }
  // Pixel x is made a line by its right neighbour's test (x + 1 an inner pixel).
  bool ByRight(int32_t y, int32_t x) const {
    if (x + 2 >= Width || Direct(y, x + 1)) return false;
    const T v = Row(y)[x];
    return v < Line && v > Q(Row(y)[x + 1]);
  }
  // Inner pixel x becomes a line when the pixel above it stays as it is.
  bool ByAbove(int32_t y, int32_t x) const {
    const T a = Row(y - 1)[x];
    return a < Line && a > Q(Row(y)[x]);
  }
  // Whether pixel x of row y (1 .. height-2) ends up a line, from the unchanged picture.
  bool EndsAsLine(int32_t y, int32_t x) const {
    if (x == 0) return ByRight(y, 0);
    if (x + 1 >= Width) return false;
    bool flip = false;
    for (;; --y) {
      if (Direct(y, x) || ByRight(y, x)) return !flip;
      if (!ByAbove(y, x)) return flip;
      // A line exactly when the pixel above is not; row 0 never changes.
      if (y == 1) return !flip;
      flip = !flip;
    }
  }
};

// Rows y0 .. y1-1 in reading order; `above` is row y0-1 as it ends up and
// `below` row y1 as it was.
template <class T, class Ceiling>
void IsophoteRows(T* p, int32_t width, int32_t y0, int32_t y1, int64_t stride, const T* aboveFirst,
                  const T* belowLast, T line, Ceiling ceiling) {
  for (int32_t y = y0; y < y1; ++y) {
    T* row = p + y * stride;
    const T* below = y + 1 == y1 ? belowLast : row + stride;
    const T* above = y == y0 ? aboveFirst : row - stride;
    for (int32_t x = 1; x + 1 < width; ++x) {
      const auto q = ceiling(row[x]);
      if (q < row[x + 1] || q < below[x]) {
        row[x] = line;
      } else {
        if (above[x] < line && above[x] > q) row[x] = line;
        if (row[x - 1] < line && row[x - 1] > q) row[x - 1] = line;
      }
    }
  }
}

template <class T, class Ceiling>
void Isophotes(T* p, int32_t width, int32_t height, int64_t stride, T line, Ceiling ceiling, int threads) {
  const int32_t inner = height - 2;
  threads = std::clamp(threads, 1, std::max(inner, 1));
  if (threads == 1) {
    IsophoteRows(p, width, 1, height - 1, stride, p, p + (height - 1) * stride, line, ceiling);
    return;
  }
  auto first = [&](int k) { return int32_t(1 + int64_t(inner) * k / threads); };
  const TIsophoteRule<T, Ceiling> rule{p, width, stride, line, ceiling};
  auto above = std::vector<std::vector<T>>(size_t(threads));
  auto below = std::vector<std::vector<T>>(size_t(threads));
  // First every band's border rows from the unchanged picture, then the bands.
  ForEachBand(threads, threads, [&](int64_t k0, int64_t k1) {
    for (int k = int(k0); k < int(k1); ++k) {
      if (k > 0) {
        const int32_t y = first(k) - 1;
        std::vector<T>& a = above[size_t(k)];
        a.assign(rule.Row(y), rule.Row(y) + width);
        for (int32_t x = 0; x < width; ++x)
          if (rule.EndsAsLine(y, x)) a[size_t(x)] = line;
      }
      if (k + 1 < threads) below[size_t(k)].assign(rule.Row(first(k + 1)), rule.Row(first(k + 1)) + width);
    }
  });
  ForEachBand(threads, threads, [&](int64_t k0, int64_t k1) {
    for (int k = int(k0); k < int(k1); ++k) {
      const T* a = k > 0 ? above[size_t(k)].data() : p;
      const T* b = k + 1 < threads ? below[size_t(k)].data() : p + (height - 1) * stride;
      IsophoteRows(p, width, first(k), first(k + 1), stride, a, b, line, ceiling);
    }
  });
}

}  // namespace

void DrawIsophotes(std::span<uint8_t> pixels, int32_t width, int32_t height, int64_t stride, int threads) {
  if (width < 3 || height < 3 || pixels.size() < size_t(stride) * size_t(height)) return;
  Isophotes<uint8_t>(pixels.data(), width, height, stride, uint8_t(255),
                     [](uint8_t v) { return int((v & 224) + 31); }, threads);
}

void DrawIsophotesOnPlane(std::span<float> plane, int32_t width, int32_t height) {
  if (width < 3 || height < 3 || plane.size() < size_t(width) * size_t(height)) return;
  Isophotes<float>(
      plane.data(), width, height, width, 65535.0f,
      [](float v) {
        // Round in floating point within 0..65535 first; NaN and blanks count as 0.
        const float c = v > 0.0f ? (v < 65535.0f ? v : 65535.0f) : 0.0f;
        return float((int32_t(std::nearbyint(c)) & 0xE000) | 0x1FFF);
      },
      1);
}

}  // namespace astrelon
