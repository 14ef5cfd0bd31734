#include "filters/shrink_star_radius.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "common/pascal_format.h"
#include "filters/filter_rows.h"
#include "filters/filter_state.h"
#include "filters/soft_erosion.h"
#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

constexpr float Inf = std::numeric_limits<float>::infinity();

struct TStarMeasure {
  std::span<const float> Plane;
  int32_t Width = 0, Height = 0;
  TWorkRect Rect;
  bool HorizontalOnly = false;
  float Radius = 0, Minimum = 0, Quarter = 0, Noise = 0;
};

// How star-like each pixel of the rectangle is: bright against the smallest
// value of its 5 x 5 surroundings and close to the largest of its 3 x 3 ones
// (3 x 1 along rows only), both taken over the valid pixels inside the image.
// Blank pixels get 0. False when stopped.
bool MeasureStars(const TStarMeasure& s, std::vector<float>& a, TFilterPoll& poll, int plane) {
  const TWorkRect& r = s.Rect;
  const int32_t cols = r.x2 - r.x1 + 1, rows = r.y2 - r.y1 + 1;
  const int32_t top = std::max(r.y1 - 2, 0), bottom = std::min(r.y2 + 2, s.Height - 1);
  const int32_t spanRows = bottom - top + 1;
  // Row minima over 5 and maxima over 3 neighbouring columns, for the rows around the rectangle.
  std::vector<float> rowMin(size_t(spanRows) * size_t(cols)), rowMax(size_t(spanRows) * size_t(cols));
  if (!ForEachRowChunk(0, spanRows, cols, &poll, plane, [&](int64_t a0, int64_t b0) {
        for (int64_t k = a0; k < b0; ++k) {
          const float* in = s.Plane.data() + (top + k) * int64_t(s.Width);
          float* mn = rowMin.data() + k * cols;
          float* mx = rowMax.data() + k * cols;
          for (int32_t x = 0; x < cols; ++x) {
            const int32_t c = r.x1 + x;
            float lo = Inf, hi = -Inf;
            for (int32_t u = std::max(c - 2, 0); u <= std::min(c + 2, s.Width - 1); ++u) {
              const float v = in[u];
              if (!IsValidPixel(v)) continue;
              lo = std::min(lo, v);
              if (u >= c - 1 && u <= c + 1) hi = std::max(hi, v);
            }
            mn[x] = lo;
            mx[x] = hi;
          }
        }
      }))
    return false;
  a.assign(size_t(rows) * size_t(cols), 0.0f);
  const float q = s.Quarter, n = s.Noise;
  return ForEachRowChunk(0, rows, cols, &poll, plane, [&](int64_t a0, int64_t b0) {
    for (int64_t y = a0; y < b0; ++y) {
      const int32_t iy = r.y1 + int32_t(y);
      const float* in = s.Plane.data() + int64_t(iy) * s.Width + r.x1;
      float* out = a.data() + y * cols;
      const int32_t minFrom = std::max(iy - 2, 0) - top, minTo = std::min(iy + 2, s.Height - 1) - top;
      const int32_t maxFrom = s.HorizontalOnly ? iy - top : std::max(iy - 1, 0) - top;
      const int32_t maxTo = s.HorizontalOnly ? iy - top : std::min(iy + 1, s.Height - 1) - top;
      for (int32_t x = 0; x < cols; ++x) {
        const float c = in[x];
        if (!IsValidPixel(c)) continue;
        float m5 = Inf, m3 = -Inf;
        for (int32_t k = minFrom; k <= minTo; ++k) m5 = std::min(m5, rowMin[size_t(k) * cols + x]);
        for (int32_t k = maxFrom; k <= maxTo; ++k) m3 = std::max(m3, rowMax[size_t(k) * cols + x]);
        if (!(m3 > m5)) continue;
        // The brightness factor grows for faint pixels (the rise above the
        // minimum is at least a tenth of the quarter range when the figures hold).
        const float rise = std::max(c - s.Minimum + 0.1f * q, 0.1f * q);
        const float f = rise > q ? 2.5f : 2.5f * q / rise;
        const float v = 0.8f * s.Radius * f * (m3 - c - n) / (m3 - m5 + n);
        out[x] = v > 0 ? v : 0.0f;
      }
    }
  });
}

// Smooths the positive measures with their four neighbours (all taken before
// smoothing), except on the rectangle's outer rows and columns.
void SmoothStarMeasure(const std::vector<float>& a, std::vector<float>& out, int32_t cols, int32_t rows,
                       float radius) {
  out = a;
  const float cw = radius > 2 ? 1.0f / radius : 0.5f;
  const float side = (1.0f - cw) / 4.0f;
  ForEachRowChunk(1, rows - 1, cols, nullptr, 1, [&](int64_t a0, int64_t b0) {
    for (int64_t y = a0; y < b0; ++y)
      for (int32_t x = 1; x < cols - 1; ++x) {
        const size_t i = size_t(y) * cols + x;
        const float v = a[i];
        if (v > 0) out[i] = cw * v + side * (a[i - 1] + a[i + 1] + a[i - cols] + a[i + cols]);
      }
  });
}

}  // namespace

bool ShrinkStarRadius(int source, int destination, bool horizontalOnly, float radius, float lowerThreshold,
                      float hideStars, const TWorkRect& rectIn, TFilterPoll& poll) {
  FilterAborted = false;
  if (!SlotInUse(source) || !ValidSlot(destination) || !std::isfinite(radius)) return true;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const int32_t w = src.Width, h = src.Height;
  if (w < 1 || h < 1 || dst.Width != w || dst.Height != h) return true;
  TWorkRect rect{std::max(rectIn.x1, 0), std::min(rectIn.x2, w - 1), std::max(rectIn.y1, 0),
                 std::min(rectIn.y2, h - 1)};
  if (rect.x1 > rect.x2 || rect.y1 > rect.y2) return true;
  const int32_t cols = rect.x2 - rect.x1 + 1, rows = rect.y2 - rect.y1 + 1;

  // Offsets beyond the rectangle never meet a pixel of it, so the reach is
  // bounded by its size whatever radius a batch step passes.
  const int64_t reach = std::clamp<int64_t>(Round(radius) + 1, 0, std::max(cols, rows));
  const TErosionTable table = MakeErosionTable(int32_t(reach), horizontalOnly ? 0 : int32_t(reach));
  const float hide = hideStars / 100.0f;
  const float range = src.MaxValue - src.MinValue;
  const float quarter = range / 4.0f;
  // A flat image has nothing to shrink (its star measure would be 0 / 0).
  if (!(quarter > 0)) return true;

  bool stopped = false;
  for (int p = FirstChannel(source); p >= 1 && p <= std::min(src.PlaneCount, 3); NextChannel(source, p)) {
    const size_t n = src.PixelCount();
    if (src.Planes[size_t(p)].size() != n) continue;
    if (dst.Planes[size_t(p)].size() != n) dst.Planes[size_t(p)].resize(n);
    const float noise = std::max(EstimatePlaneNoise(source, p), 0.001f * range);
    const float lift = std::max(2.0f * noise * lowerThreshold, 0.001f);

    // The erosion radius of every pixel: the star measure mixed with the full radius.
    std::vector<float> t;  // empty: the full radius everywhere
    if (hide != 1.0f) {
      std::vector<float> a, smooth;
      const TStarMeasure s{src.Planes[size_t(p)], w, h, rect, horizontalOnly, radius, src.MinValue, quarter, noise};
      if (!MeasureStars(s, a, poll, p)) {
        stopped = true;
        break;
      }
      SmoothStarMeasure(a, smooth, cols, rows, radius);
      t.resize(smooth.size());
      for (size_t i = 0; i < t.size(); ++i) {
        const float v = hide * radius + (1.0f - hide) * smooth[i];
        t[i] = v > 0 ? v : 0.0f;  // NaN too: the pixel keeps its value
      }
    }
    const TErosionPlane plane{src.Planes[size_t(p)], dst.Planes[size_t(p)], w, rect, t, radius, lift};
    if (!ErodePlane(plane, table, Sse2Enabled, &poll, p)) {
      stopped = true;
      break;
    }
  }
  poll.HideProgress();
  if (stopped) {
    FilterAborted = poll.Aborted();
    return false;
  }
  ComputeHistogram(destination, false, true);
  return true;
}

}  // namespace astrelon
