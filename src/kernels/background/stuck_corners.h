#pragma once
// In a rejecting MinBlur step a feature (a pixel below its reference) in a
// corner, where every pair of its window is shrunk, may find no neighbour that
// counts: a star there would never be eaten. Such a pixel, left as it was,
// takes what the sky further in says: along each direction of the full window
// whose two steps land inside the image on pixels that count, the line through
// them carried back to the pixel (2 W(p + n) - W(p + 2 n)), weighed as in the
// window. The line keeps a gradient as the centred windows do.
// The step's input W is read through an accessor w(x, y), so that it may be a
// plane or the corners kept of a row ring (TKeptCorners).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "kernels/background/min_blur_windows.h"
#include "kernels/gauss/filter_rows.h"
#include "store/image_slot.h"

namespace astrelon {

// Columns 0 .. StuckColumns - 1 and as many from the right take part.
inline int32_t StuckColumns(int32_t width, const TStepWindows& t) {
  int32_t corner = 0;
  while (corner < width && t.Shrunk(std::min(corner, width - 1 - corner))) ++corner;
  return corner;
}

// The stuck pixels of row y of a rejecting step's output `outRow` (its first
// pixel), from the reference plane `a` and the step's input `w`.
template <class Work>
void FillStuckRow(const float* a, const Work& w, float* outRow, int32_t y, int32_t width, int32_t height,
                  const TStepWindows& t) {
  if (!t.Shrunk(std::min(y, height - 1 - y))) return;
  const int32_t corner = StuckColumns(width, t);
  const TMinBlurStencil& full = t.Full();
  const auto at = [&](int64_t x, int64_t y) { return size_t(y) * size_t(width) + size_t(x); };
  const auto counts = [&](int64_t x, int64_t y) {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    const float u = w(int32_t(x), int32_t(y)), au = a[at(x, y)];
    return IsValidPixel(u) && IsValidPixel(au) && !(u < au);
  };
  const auto fill = [&](int32_t x) {
    const float v = w(x, y);
    if (!IsValidPixel(v) || !(v < a[at(x, y)]) || outRow[x] != v) return;
    double s = 0, wc = 0;
    for (size_t n = 0; n < 8; ++n) {
      const int64_t x1 = int64_t(x) + full.Dx[n], y1 = int64_t(y) + full.Dy[n];
      const int64_t x2 = x1 + full.Dx[n], y2 = y1 + full.Dy[n];
      if (!counts(x1, y1) || !counts(x2, y2)) continue;
      s += (2.0 * w(int32_t(x1), int32_t(y1)) - w(int32_t(x2), int32_t(y2))) * full.Weight[n];
      wc += full.Weight[n];
    }
    if (wc > 0) outRow[x] = float(s / wc);
  };
  for (int32_t x = 0; x < corner; ++x) fill(x);
  for (int32_t x = std::max(width - corner, corner); x < width; ++x) fill(x);
}

// The stuck pixels of the whole output plane `out`, rows split over the processors.
template <class Work>
void FillStuckCorners(const float* a, const Work& w, float* out, int32_t width, int32_t height,
                      const TStepWindows& t) {
  if (!t.Rejecting()) return;
  std::vector<int32_t> rows;
  for (int32_t y = 0; y < height; ++y)
    if (t.Shrunk(std::min(y, height - 1 - y))) rows.push_back(y);
  const int32_t corner = StuckColumns(width, t);
  if (rows.empty() || corner == 0) return;
  ForEachBand(int64_t(rows.size()), FilterThreads(int64_t(rows.size()) * corner * 2), [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) {
      const int32_t y = rows[size_t(k)];
      FillStuckRow(a, w, out + size_t(y) * size_t(width), y, width, height, t);
    }
  });
}

// The corners of a plane that FillStuckCorners reads for the step `t`, kept
// while the plane's rows pass through a ring: the rows and columns nearer to an
// edge than the shrunk windows' extent plus twice the reach.
class TKeptCorners {
public:
  TKeptCorners(int32_t width, int32_t height, const TStepWindows& t) : width_(width), height_(height) {
    const int32_t extent = t.Inner() + 2 * t.Reach();
    rows_ = std::min(height, 2 * extent);
    columns_ = std::min(width, 2 * extent);
    rowExtent_ = rows_ / 2 + rows_ % 2;
    columnExtent_ = columns_ / 2 + columns_ % 2;
    values_.resize(size_t(rows_) * size_t(columns_));
  }
  // Takes row y (its first pixel) when it lies in the kept rows.
  void Keep(int32_t y, const float* row) {
    const int32_t k = RowSlot(y);
    if (k < 0) return;
    float* kept = values_.data() + size_t(k) * size_t(columns_);
    std::copy(row, row + columnExtent_, kept);
    std::copy(row + (width_ - (columns_ - columnExtent_)), row + width_, kept + columnExtent_);
  }
  float operator()(int32_t x, int32_t y) const {
    const int32_t column = x < columnExtent_ ? x : x - (width_ - columns_);
    return values_[size_t(RowSlot(y)) * size_t(columns_) + size_t(column)];
  }

private:
  int32_t RowSlot(int32_t y) const {
    if (y < rowExtent_) return y;
    if (y >= height_ - (rows_ - rowExtent_)) return y - (height_ - rows_);
    return -1;
  }
  int32_t width_, height_, rows_, columns_, rowExtent_, columnExtent_;
  std::vector<float> values_;
};

}  // namespace astrelon
