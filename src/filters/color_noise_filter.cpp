#include "filters/color_noise_filter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "filters/filter_rows.h"
#include "filters/filter_state.h"
#include "store/color_models.h"

namespace astrelon {

namespace {

// The selective Gaussian of one plane inside a rectangle: a pass down the
// columns into a work plane (over the rectangle's columns widened by the half
// window, so that the row pass finds every neighbour filled), then a pass
// along the rows. A neighbour counts when it is valid and closer to the pass's
// centre value than the threshold; the centre always counts when it is valid.
bool SelectiveGaussPlane(std::span<const float> src, std::span<float> dst, int32_t w, int32_t h, const TWorkRect& r,
                         float radius, float threshold, TFilterPoll& poll, int planeIndex) {
  std::array<double, 256> weight{};
  int32_t half = -1;  // the first weight below 0.02, less one; at least 1
  for (int32_t i = 0; i < 256; ++i) {
    const double t = radius > 0 ? i / double(radius) : (i == 0 ? 0.0 : HUGE_VAL);
    weight[size_t(i)] = t > 100 ? 0.0 : std::exp(-t * t);
    if (half < 0 && weight[size_t(i)] < 0.02) half = i - 1;
  }
  half = std::max(half, 1);
  const int32_t cx1 = std::max(r.x1 - half, 0), cx2 = std::min(r.x2 + half, w - 1);
  const int32_t cols = cx2 - cx1 + 1;
  std::vector<float> work(size_t(cols) * size_t(r.y2 - r.y1 + 1));
  auto mean = [&](auto value, int32_t reachBack, int32_t reachAhead, float c) {
    double sum = 0, sumWeight = 0;
    for (int32_t k = -reachBack; k <= reachAhead; ++k) {
      const float v = value(k);
      if (k != 0 && !(IsValidPixel(v) && std::fabs(v - c) < threshold)) continue;
      sum += weight[size_t(std::abs(k))] * v;
      sumWeight += weight[size_t(std::abs(k))];
    }
    return float(sum / sumWeight);
  };
  const bool columns = ForEachRowChunk(r.y1, int64_t(r.y2) + 1, cols * (2 * half + 1) / 8 + 1, &poll, planeIndex,
                                       [&](int64_t a, int64_t b) {
                                         for (int64_t y = a; y < b; ++y)
                                           for (int32_t x = cx1; x <= cx2; ++x) {
                                             const float c = src[size_t(y * w + x)];
                                             float& out = work[size_t((y - r.y1) * cols + (x - cx1))];
                                             out = !IsValidPixel(c) ? c
                                                                    : mean([&](int32_t k) { return src[size_t((y + k) * w + x)]; },
                                                                           int32_t(std::min<int64_t>(half, y)),
                                                                           int32_t(std::min<int64_t>(half, h - 1 - y)), c);
                                           }
                                       });
  if (!columns) return false;
  return ForEachRowChunk(r.y1, int64_t(r.y2) + 1, cols * (2 * half + 1) / 8 + 1, &poll, planeIndex,
                         [&](int64_t a, int64_t b) {
                           for (int64_t y = a; y < b; ++y) {
                             const float* row = work.data() + (y - r.y1) * cols - cx1;  // indexed by image column
                             for (int32_t x = r.x1; x <= r.x2; ++x) {
                               const float c = row[x];
                               dst[size_t(y * w + x)] =
                                   !IsValidPixel(c) ? c
                                                    : mean([&](int32_t k) { return row[x + k]; }, std::min(half, x - cx1),
                                                           std::min(half, cx2 - x), c);
                             }
                           }
                         });
}

}  // namespace

bool FilterColorNoise(int source, int destination, const TWorkRect& rectIn, float radius, float threshold,
                      TFilterPoll& poll) {
  FilterAborted = false;
  if (!SlotInUse(source) || !SlotInUse(destination)) return true;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  if (!src.IsColor || src.PlaneCount < 3 || dst.PlaneCount < 3) return true;
  const int32_t w = src.Width, h = src.Height;
  if (dst.Width != w || dst.Height != h) return true;
  const TWorkRect rect{std::max(rectIn.x1, 0), std::min(rectIn.x2, w - 1), std::max(rectIn.y1, 0),
                       std::min(rectIn.y2, h - 1)};
  if (rect.x1 > rect.x2 || rect.y1 > rect.y2) return true;

  const bool sourceRgb = src.ColorModel == CmRgb, destinationRgb = dst.ColorModel == CmRgb;
  if (sourceRgb) RGBtoYUV(source);
  if (destinationRgb && destination != source) RGBtoYUV(destination);
  const float t = threshold * threshold * (src.PlaneMax[1] - src.PlaneMin[1]) / 10000.0f;
  bool done = true;
  for (int p = 2; p <= 3 && done; ++p) {
    // Filtering in place reads a copy of the plane.
    TPlane copy;
    std::span<const float> in = src.Planes[size_t(p)];
    if (source == destination) {
      copy.assign(in.begin(), in.end());
      in = copy;
    }
    done = SelectiveGaussPlane(in, dst.Planes[size_t(p)], w, h, rect, radius, t, poll, p);
  }
  if (sourceRgb) YUVtoRGB(source);
  if (destinationRgb && destination != source) YUVtoRGB(destination);
  return EndFilterRun(poll, done);
}

}  // namespace astrelon
