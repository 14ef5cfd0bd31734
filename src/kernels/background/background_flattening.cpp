#include "kernels/background/background_flattening.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "kernels/background/background_edge_fitting.h"
#include "kernels/background/percentile_bands.h"
#include "kernels/background/running_percentile.h"
#include "kernels/gauss/filter_rows.h"
#include "kernels/gauss/gauss_filters.h"
#include "platform/big_buffers.h"
#include "platform/processor_features.h"
#include "shell/display/renderer.h"
#include "shell/main/main_services.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

constexpr int32_t MaxReach = 167;

}  // namespace

bool FlattenBackgroundMasked(int source, int destination, float radius, int32_t x1, int32_t y1, int32_t x2,
                             int32_t y2, bool progress, bool backgroundOnly, bool masked, const std::string& title,
                             int progressSlot, double fraction, TFilterPoll* poll, std::span<const uint8_t> mask) {
  if (!SlotInUse(source) || !SlotInUse(destination)) return false;
  const TImageSlot& S = Store.Image[size_t(source)];
  TImageSlot& D = Store.Image[size_t(destination)];
  const int32_t W = S.Width, H = S.Height;
  if (W < 2 || H < 2 || D.Width != W || D.Height != H) return false;
  ClampSelectionToImage(source);
  x1 = std::clamp(x1, 0, W - 2);
  y1 = std::clamp(y1, 0, H - 2);
  x2 = std::clamp(x2, x1 + 1, W - 1);
  y2 = std::clamp(y2, y1 + 1, H - 1);
  const uint8_t* maskBytes = masked && mask.size() >= S.PixelCount() ? mask.data() : nullptr;

  TFilterPoll local = poll ? *poll : TFilterPoll();
  local.ShowProgressIn(progress ? progressSlot : -1, destination, title);
  const int32_t R = int32_t(std::clamp(std::isnan(radius) ? 1.0f : radius, 1.0f, float(MaxReach)));
  const int32_t wideR = int32_t(std::nearbyint(1.5 * R + 3));
  // The weights use the radius as given (a radius of 0 weighs nothing: every
  // sample is the centre value).
  const double rho = std::isnan(radius) ? 1.0 : double(radius);
  TPercentileWeights w{};
  for (int i = 0; i < 256 && rho != 0; ++i) {
    const double q = i / rho;
    w[size_t(i)] = q <= 100 ? float(std::pow(2.718281828459, -q * q)) : 0.0f;
  }
  const double share = double(x2 - x1) * double(y2 - y1) / double(S.PixelCount());
  const int32_t step = std::max(1, int32_t(R / 6.0 * std::sqrt(share)));

  std::vector<int> planes;
  for (int p = FirstChannel(destination); p >= 1 && p <= std::min(D.PlaneCount, 3); NextChannel(destination, p))
    if (S.Planes[size_t(p)].size() >= S.PixelCount() && D.Planes[size_t(p)].size() >= S.PixelCount())
      planes.push_back(p);

  bool stopped = false;
  const bool vector = Sse2Enabled;
  if (!masked) {
    // Rows then columns in bands of rows: no plane of row percentiles.
    const TPercentilePasses passes{W, H, x1, x2, y1, y2, R, step, &w, fraction, vector};
    for (int p : planes) {
      stopped = !PercentilePassesInBands(std::span(S.Planes[size_t(p)].data(), S.PixelCount()),
                                         std::span(D.Planes[size_t(p)].data(), S.PixelCount()), passes, local, p);
      if (stopped) break;
    }
  }
  // Mask mode: the rows' percentiles in a plane, in huge pages, freed in the background.
  TPlane h(masked ? S.PixelCount() : 0);
  AdviseHugePages(h.data(), h.size() * sizeof(float));
  const int32_t ra = std::max(y1 - R, 0), rb = std::min(y2 + R, H - 1);
  for (size_t k = 0; masked && k < planes.size(); ++k) {
    const int p = planes[k];
    const float* s = S.Planes[size_t(p)].data();
    float* d = D.Planes[size_t(p)].data();
    // Bright pixels get a wider window.
    TPercentileLevels level;
    GetPercentileLevels(source, p, 0, W - 1, 0, H - 1, 95, 95, level);
    const float bright = float(level.LevelA);
    const auto reach = [&](float centre) { return centre > bright ? wideR : R; };
    // The wider windows of bright pixels reach beyond the rows and columns the
    // rows write, and find blanks there.
    ForEachChunk(
        0, H, W, [&](int64_t ya, int64_t yb) { std::fill(h.begin() + ya * W, h.begin() + yb * W, BlankPixel); },
        [](int64_t) { return true; });
    // Rows: every row that the columns' windows reach, columns x1..x2.
    stopped = !ForEachChunk(
        ra, int64_t(rb) + 1, x2 - x1 + 1,
        [&](int64_t ya, int64_t yb) {
          std::vector<float> samples;
          for (int64_t y = ya; y < yb; ++y) {
            const size_t row = size_t(y) * W;
            for (int32_t x = x1; x <= x2; ++x) {
              const size_t i = row + x;
              const float* c = s + i;
              if (!IsValidPixel(*c) || (maskBytes && maskBytes[i] != 0)) continue;
              int32_t a = 0, b = 0;
              PercentileWindow(x, W, reach(*c), a, b);
              h[i] = RawPercentile(c, maskBytes ? maskBytes + i : nullptr, 1, a, b, true, step, fraction, samples);
            }
          }
        },
        [&](int64_t last) {
          return local.ContinuePercent(p, float((last - y1) * 50.0 / std::max(y2 - y1, 1)));
        });
    if (stopped) break;
    // Columns x1..x2, rows y1..y2, taken row by row.
    stopped = !ForEachChunk(
        y1, int64_t(y2) + 1, x2 - x1 + 1,
        [&](int64_t ya, int64_t yb) {
          std::vector<float> samples;
          for (int64_t y = ya; y < yb; ++y) {
            const size_t row = size_t(y) * W;
            for (int32_t x = x1; x <= x2; ++x) {
              const size_t i = row + size_t(x);
              if (!IsValidPixel(h[i])) {
                // Masked pixels are left for the caller to fill.
                d[i] = BlankPixel;
                continue;
              }
              int32_t a = 0, b = 0;
              PercentileWindow(int32_t(y), H, reach(d[i]), a, b);
              d[i] = RawPercentile(h.data() + i, nullptr, W, a, b, false, step, fraction, samples);
            }
          }
        },
        [&](int64_t last) {
          return local.ContinuePercent(p, float(50.0 + (last - y1) * 50.0 / std::max(y2 - y1, 1)));
        });
    if (stopped) break;
  }
  if (!stopped && !masked) {
    for (int p : planes) {
      fGauss(destination, destination, p, x1, x2, y1, y2, 0.3f + R / 3.0f, progress, progressSlot, 100, "", &local);
      if (local.Stopped()) {
        stopped = true;
        break;
      }
    }
  }
  if (!stopped)
    for (int p : planes) {
      const float* s = S.Planes[size_t(p)].data();
      float* d = D.Planes[size_t(p)].data();
      if (!masked && !backgroundOnly) {
        TPercentileLevels level;
        GetPercentileLevels(destination, p, 0, W - 1, 0, H - 1, 35, 35, level);
        // Only the rectangle: outside it the image stays untouched.
        ForEachChunk(
            y1, int64_t(y2) + 1, x2 - x1 + 1,
            [&](int64_t ya, int64_t yb) {
              for (int64_t y = ya; y < yb; ++y)
                for (int32_t x = x1; x <= x2; ++x) {
                  const size_t i = size_t(y) * W + x;
                  d[i] = IsValidPixel(d[i]) && IsValidPixel(s[i]) ? float(s[i] - d[i] + level.LevelA) : s[i];
                }
            },
            [](int64_t) { return true; });
      }
      FitFlattenedEdges(std::span(s, S.PixelCount()), std::span(d, S.PixelCount()), W, H, TWorkRect{x1, x2, y1, y2});
    }
  const size_t hBytes = h.size() * sizeof(float);
  ReleaseInBackground(std::move(h), hBytes);
  if (progress) local.HideProgress();
  return !stopped;
}

bool FlattenBackgroundForBatch(int source, int destination, float radius) {
  if (!SlotInUse(source)) return false;
  const TImageSlot& S = Store.Image[size_t(source)];
  return FlattenBackgroundMasked(source, destination, radius, 0, 0, S.Width - 1, S.Height - 1, false, false, false,
                                 "", destination, 0.25);
}

int FlattenBackgroundWithRadius(int slot, float radius, const std::string& title) {
  if (!SlotInUse(slot) || !NewResultSlot()) return -1;
  const int destination = SlotPair.Destination;
  SetWorkRectFromWindow(slot, 1, false);
  AbortRequested = 0;
  SetOperationActive(true);
  const TWorkRect r = WorkRect;
  const bool done =
      FlattenBackgroundMasked(slot, destination, radius, r.x1, r.y1, r.x2, r.y2, true, false, false, title,
                              destination, 0.25);
  SetOperationActive(false);
  if (!done) {
    FreeSlot(destination);
    return -1;
  }
  ComputeHistogram(destination, true, true);
  RefreshHistogramWindow();
  RenderImageWindow(destination, false);
  return destination;
}

}  // namespace astrelon
