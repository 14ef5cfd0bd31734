#include "frequency/wavelet/wavelet_noise_filter.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "common/engine_ui.h"
#include "frequency/wavelet/wavelet_patch_search.h"
#include "frequency/wavelet/wavelet_pyramid.h"
#include "frequency/wavelet/wavelet_threshold_curve.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

namespace {

constexpr double LayerFactor[4] = {1.0, 0.7, 0.4, 0.2};

// v > 0: max(v - T, 0); a valid v <= 0: min(v + T, 0); blanks stay.
float SoftThreshold(float v, double t) {
  if (!IsValidPixel(v)) return v;
  return v > 0 ? float(std::max(double(v) - t, 0.0)) : float(std::min(double(v) + t, 0.0));
}

// The edge-keeping mean of pixel (x, y): the centre with weight 1 and each valid
// neighbour with a T / (|v - c0| + T), a = 1 for the four direct neighbours, 0.71
// for the diagonal ones and 0.4 for those two pixels away along the axes.
float PlainPixel(const float* v, int32_t w, int32_t x, int32_t y, double t) {
  struct TTap {
    int dx, dy;
    double a;
  };
  static constexpr TTap Taps[12] = {{-1, 0, 1.0},   {1, 0, 1.0},   {0, -1, 1.0},   {0, 1, 1.0},
                                    {-1, -1, 0.71}, {1, -1, 0.71}, {-1, 1, 0.71},  {1, 1, 0.71},
                                    {-2, 0, 0.4},   {2, 0, 0.4},   {0, -2, 0.4},   {0, 2, 0.4}};
  const float c0 = v[int64_t(y) * w + x];
  if (!IsValidPixel(c0)) return c0;
  double sum = c0, weight = 1;
  for (const TTap& tap : Taps) {
    const float n = v[int64_t(y + tap.dy) * w + x + tap.dx];
    if (!IsValidPixel(n)) continue;
    const double wt = tap.a * t / (std::fabs(double(n) - c0) + t);
    sum += wt * n;
    weight += wt;
  }
  return float(sum / weight);
}

// Filters one level into `out`; false when the abort flag ended it.
bool FilterLevel(TPyramidLevel& level, std::vector<float>& out, double t, const std::vector<int16_t>* q, double k,
                 const std::function<void()>& afterRows) {
  const int32_t w = level.Width, h = level.Height;
  const float* v = level.Data.data();
  out.resize(level.Data.size());
  // The two-pixel frame (only rows and columns the level has).
  for (int32_t y = 0; y < h; ++y) {
    const bool frameRow = y < 2 || y >= h - 2;
    for (int32_t x = 0; x < w; ++x)
      if (frameRow || x < 2 || x >= w - 2) out[size_t(int64_t(y) * w + x)] = SoftThreshold(v[int64_t(y) * w + x], t);
  }
  if (w < 5 || h < 5) return true;
  const TPatchLevel patches{level.Data, q ? std::span<const int16_t>(*q) : std::span<const int16_t>(), w, h, k};
  const int threads = PyramidThreads(int64_t(w) * h);
  // Bands of rows on all threads, with events and the abort flag between them.
  const int32_t chunk = std::max(1, threads) * 4;
  for (int32_t top = 2; top <= h - 3; top += chunk) {
    const int32_t bottom = std::min(top + chunk, h - 2);
    ForEachBand(bottom - top, std::min<int>(threads, bottom - top), [&](int64_t first, int64_t last) {
      TPatchScratch scratch;
      for (int64_t r = first; r < last; ++r) {
        const int32_t y = top + int32_t(r);
        float* o = out.data() + int64_t(y) * w;
        for (int32_t x = 2; x <= w - 3; ++x)
          o[x] = q ? PatchSearchPixel(patches, x, y, scratch) : PlainPixel(v, w, x, y, t);
      }
    });
    afterRows();
    if (AbortRequested) return false;
  }
  return true;
}

}  // namespace

bool PyramidNoiseFilter(int source, int set, int plane, const TWaveletFilterOptions& options, int destination,
                        const TRectI& rect) {
  if (set < 0 || set >= PyramidSetCount || plane < 1 || plane > 3) return false;
  TPyramidSet& s = PyramidSets[size_t(set)];
  if (!s.Built[size_t(plane)]) return true;
  const int count = std::clamp(options.Levels, 0, std::min(s.LevelCount, 4));
  const bool sourceKnown = SlotInUse(source) && plane <= Store.Image[size_t(source)].PlaneCount;
  std::vector<float> out;
  for (int l = 0; l < count; ++l) {
    TPyramidLevel& level = s.Levels[size_t(plane)][size_t(l)];
    if (level.Data.empty()) continue;
    const double range = double(level.Max) - double(level.Min);
    double t = EstimateNoiseClipped(level.Data, Sse2Enabled);
    t = std::max(t, 0.002 * range);
    t *= options.Thresholds[size_t(l)] * LayerFactor[l];
    // The 16-bit scale: level 0 by the source plane's recorded range, the others by their own.
    double r = range;
    if (l == 0 && sourceKnown)
      r = double(Store.Image[size_t(source)].PlaneMax[size_t(plane)]) - Store.Image[size_t(source)].PlaneMin[size_t(plane)];
    const double scale = 32600.0 / (0.1 + std::max(r, 0.0));
    double c = 1.5;
    std::vector<int16_t> q;
    if (options.Better) {
      t *= 1.2;
      c = 0.68;
      q = QuantiseLevel(level.Data, scale);
    }
    const double k = 72.8133333 / std::max((t * scale) * (t * scale), 0.01);
    t = std::max(t, 1e-10);
    const int32_t imageHeight = SlotInUse(destination) ? Store.Image[size_t(destination)].Height : 0;
    const float progressRow = float(rect.Top + 0.48 * imageHeight * std::sqrt(l + 1.0));
    auto afterRows = [&] {
      if (options.ShowProgress && SlotInUse(destination))
        ShowProgress(destination, destination, plane, progressRow, false, false, false, false, "Wavelet");
      else
        EngineUi().ProcessMessages();
    };
    if (!FilterLevel(level, out, t, options.Better ? &q : nullptr, k, afterRows)) return false;
    ApplyThresholdCurve(MakeThresholdCurve(options.Hardness, t, c), out);
    level.Data.swap(out);
  }
  return true;
}

}  // namespace astrelon
