#include "frequency/wavelet/wavelet_noise_filter.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "common/engine_ui.h"
#include "frequency/wavelet/wavelet_patch_search.h"
#include "frequency/wavelet/wavelet_plain_mean.h"
#include "frequency/wavelet/wavelet_pyramid.h"
#include "frequency/wavelet/wavelet_threshold_curve.h"
#include "platform/big_buffers.h"
#include "platform/parallel_chunks.h"
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

constexpr int32_t ChunkRows = 16;

// Filters one level into `out`, the threshold curve included; false when the
// abort flag ended it. Chunks of rows run on all threads; after each chunk the
// calling thread runs `afterRows` and reads the abort flag.
bool FilterLevel(TPyramidLevel& level, std::vector<float>& out, double t, const std::vector<int16_t>* q, double k,
                 const TThresholdCurve& curve, const std::function<void()>& afterRows) {
  const int32_t w = level.Width, h = level.Height;
  const std::span<const float> v = level.Data;
  // A fresh buffer of the level's size, on huge pages where the system has them.
  out = std::vector<float>();
  out.reserve(level.Data.size());
  AdviseHugePages(out.data(), level.Data.size() * sizeof(float));
  out.resize(level.Data.size());
  const bool interior = w >= 5 && h >= 5;
  const TPatchLevel patches{v, q ? std::span<const int16_t>(*q) : std::span<const int16_t>(), w, h, k};
  const int threads = PyramidThreads(int64_t(w) * h);
  const int64_t chunks = (h + ChunkRows - 1) / ChunkRows;
  return ForEachChunkPolled(
      chunks, 1, threads,
      [&](int64_t c, int64_t) {
        const int32_t top = int32_t(c) * ChunkRows, bottom = std::min(top + ChunkRows, h);
        // The two-pixel frame (only rows and columns the level has).
        for (int32_t y = top; y < bottom; ++y) {
          const int64_t row = int64_t(y) * w;
          const bool frameRow = !interior || y < 2 || y >= h - 2;
          for (int32_t x = 0; x < w; x = frameRow || x != 1 ? x + 1 : w - 2)
            out[size_t(row + x)] = SoftThreshold(v[size_t(row + x)], t);
        }
        const int32_t first = std::max(top, 2), last = std::min(bottom, h - 2);
        if (interior && first < last) {
          if (q) {
            TPatchScratch scratch;
            for (int32_t y = first; y < last; ++y)
              PatchSearchRow(patches, y, 2, w - 2, out.data() + int64_t(y) * w, scratch);
          } else {
            PlainMeanRows(v, w, h, first, last, t, out, Sse2Enabled);
          }
        }
        ApplyThresholdCurve(curve,
                            std::span<float>(out).subspan(size_t(int64_t(top) * w), size_t(int64_t(bottom - top) * w)));
      },
      [&] {
        afterRows();
        return !AbortRequested;
      });
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
    // The 16-bit scale: level 0 by the source plane's recorded range, the
    // others by their own.
    double r = range;
    if (l == 0 && sourceKnown)
      r = double(Store.Image[size_t(source)].PlaneMax[size_t(plane)]) -
          Store.Image[size_t(source)].PlaneMin[size_t(plane)];
    const double scale = 32600.0 / (0.1 + std::max(r, 0.0));
    double c = 1.5;
    std::vector<int16_t> q;
    if (options.Better) {
      t *= 1.2;
      c = 0.68;
      q = QuantiseLevel(level.Data, scale, PyramidThreads(int64_t(level.Data.size())));
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
    const TThresholdCurve curve = MakeThresholdCurve(options.Hardness, t, c);
    if (!FilterLevel(level, out, t, options.Better ? &q : nullptr, k, curve, afterRows)) return false;
    level.Data.swap(out);
    // The level's former values are freed in the background.
    const size_t bytes = out.size() * sizeof(float);
    ReleaseInBackground(std::move(out), bytes);
    out = std::vector<float>();
  }
  return true;
}

}  // namespace astrelon
