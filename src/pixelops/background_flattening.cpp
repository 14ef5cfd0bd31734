#include "pixelops/background_flattening.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "filters/filter_rows.h"
#include "filters/gauss_filters.h"
#include "shell/main_services.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

constexpr int32_t MaxReach = 167;

// The window of offsets a..b (inclusive) around position x of a line of n
// values for half width h, pulled in at the line's ends.
void Window(int32_t x, int32_t n, int32_t h, int32_t& a, int32_t& b) {
  a = -h;
  b = h;
  if (x - h < 0) {
    b = std::min(h, x + 1 + h / 5);
    a = -x;
  }
  if (x + b >= n) {
    a = x - h - n + b - h / 5;
    a = std::max(a, -h);
    a = std::max(a, -x);
    b = n - 1 - x;
  }
}

// Percentile of the non-blank line values at offsets a, a + step, ... <= b from
// the centre, each pulled toward the centre value c0 by its weight; blank when
// no value is taken.
float WeightedPercentile(const float* centre, ptrdiff_t stride, int32_t a, int32_t b, int32_t step, float c0,
                         const std::array<float, 256>& w, double fraction, std::vector<float>& samples) {
  samples.clear();
  for (int32_t d = a; d <= b; d += step) {
    const float v = centre[d * stride];
    if (IsValidPixel(v)) samples.push_back((v - c0) * w[size_t(std::abs(d))] + c0);
  }
  return samples.empty() ? BlankPixel : PercentileSelect(samples, fraction);
}

}  // namespace

void FlattenBackgroundMasked(int source, int destination, float radius, int32_t x1, int32_t y1, int32_t x2,
                             int32_t y2, bool progress, bool backgroundOnly, bool masked, const std::string& title,
                             int progressSlot, double fraction, TFilterPoll* poll) {
  (void)masked;
  if (!SlotInUse(source) || !SlotInUse(destination)) return;
  const TImageSlot& S = Store.Image[size_t(source)];
  TImageSlot& D = Store.Image[size_t(destination)];
  const int32_t W = S.Width, H = S.Height;
  if (W < 2 || H < 2 || D.Width != W || D.Height != H) return;
  ClampSelectionToImage(source);
  x1 = std::clamp(x1, 0, W - 2);
  y1 = std::clamp(y1, 0, H - 2);
  x2 = std::clamp(x2, x1 + 1, W - 1);
  y2 = std::clamp(y2, y1 + 1, H - 1);

  TFilterPoll local = poll ? *poll : TFilterPoll();
  local.ShowProgressIn(progress ? progressSlot : -1, destination, title);
  const int32_t R = int32_t(std::clamp(std::isnan(radius) ? 1.0f : radius, 1.0f, float(MaxReach)));
  // The weights use the radius as given, but at least 1.
  const double rho = std::max(std::isnan(radius) ? 1.0 : double(radius), 1.0);
  std::array<float, 256> w{};
  for (int i = 0; i < 256; ++i) {
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
  TPlane h(S.PixelCount());
  const int32_t ra = std::max(y1 - R, 0), rb = std::min(y2 + R, H - 1);
  for (int p : planes) {
    const float* s = S.Planes[size_t(p)].data();
    float* d = D.Planes[size_t(p)].data();
    std::fill(h.begin(), h.end(), BlankPixel);
    // Rows: every row that the columns' windows reach, columns x1..x2.
    stopped = !ForEachChunk(
        ra, int64_t(rb) + 1, x2 - x1 + 1,
        [&](int64_t ya, int64_t yb) {
          std::vector<float> samples;
          for (int64_t y = ya; y < yb; ++y)
            for (int32_t x = x1; x <= x2; ++x) {
              const float* c = s + y * W + x;
              if (!IsValidPixel(*c)) continue;
              int32_t a = 0, b = 0;
              Window(x, W, R, a, b);
              h[size_t(y) * W + x] = WeightedPercentile(c, 1, a, b, step, *c, w, fraction, samples);
            }
        },
        [&](int64_t last) {
          return local.ContinuePercent(p, float((last - y1) * 50.0 / std::max(y2 - y1, 1)));
        });
    if (stopped) break;
    // Columns x1..x2, rows y1..y2.
    stopped = !ForEachChunk(
        x1, int64_t(x2) + 1, y2 - y1 + 1,
        [&](int64_t xa, int64_t xb) {
          std::vector<float> samples;
          for (int64_t x = xa; x < xb; ++x)
            for (int32_t y = y1; y <= y2; ++y) {
              const size_t i = size_t(y) * W + size_t(x);
              if (!IsValidPixel(h[i]) || !IsValidPixel(d[i])) continue;
              int32_t a = 0, b = 0;
              Window(y, H, R, a, b);
              const float v = WeightedPercentile(h.data() + i, W, a, b, step, h[i], w, fraction, samples);
              if (IsValidPixel(v)) d[i] = v;
            }
        },
        [&](int64_t last) {
          return local.ContinuePercent(p, float(50.0 + (last - x1) * 50.0 / std::max(x2 - x1, 1)));
        });
    if (stopped) break;
  }
  if (!stopped) {
    for (int p : planes) {
      fGauss(destination, destination, p, x1, x2, y1, y2, 0.3f + R / 3.0f, progress, progressSlot, 100, "", &local);
      if (local.Stopped()) {
        stopped = true;
        break;
      }
    }
  }
  if (!stopped && !backgroundOnly)
    for (int p : planes) {
      TPercentileLevels level;
      GetPercentileLevels(destination, p, 0, W - 1, 0, H - 1, 35, 35, level);
      const float* s = S.Planes[size_t(p)].data();
      float* d = D.Planes[size_t(p)].data();
      for (int32_t y = y1; y <= y2; ++y)
        for (int32_t x = x1; x <= x2; ++x) {
          const size_t i = size_t(y) * W + x;
          d[i] = IsValidPixel(d[i]) && IsValidPixel(s[i]) ? float(s[i] - d[i] + level.LevelA) : s[i];
        }
    }
  if (progress) local.HideProgress();
}

}  // namespace astrelon
