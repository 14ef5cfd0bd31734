#include "frequency/wavelet/wavelet_patch_search.h"

#include <algorithm>
#include <cmath>

#include "store/image_slot.h"

namespace astrelon {

namespace {

constexpr int WeightSteps = 2040;
// A distance standing for "nothing close": the walk only moves on through it.
constexpr int64_t FarDistance = 4000000000;

// E[i] = exp(-i / 81.915), i = 0..2040.
const std::array<double, WeightSteps + 1>& WeightTable() {
  static const std::array<double, WeightSteps + 1> table = [] {
    std::array<double, WeightSteps + 1> t{};
    for (int i = 0; i <= WeightSteps; ++i) t[size_t(i)] = std::exp(-double(i) / 81.915);
    return t;
  }();
  return table;
}

int64_t PatchDistance(const TPatchLevel& l, int32_t x, int32_t y, int32_t cx, int32_t cy) {
  int64_t sum = 0;
  for (int32_t dy = -1; dy <= 1; ++dy) {
    const int16_t* a = l.Q.data() + int64_t(y + dy) * l.Width + x;
    const int16_t* b = l.Q.data() + int64_t(cy + dy) * l.Width + cx;
    for (int32_t dx = -1; dx <= 1; ++dx) {
      const int64_t d = int64_t(a[dx]) - int64_t(b[dx]);
      sum += d * d;
    }
  }
  return sum >> 3;
}

int LookIndex(int dx, int dy) { return (dy - PatchOffsetLow) * TPatchScratch::Side + (dx - PatchOffsetLow); }

}  // namespace

std::vector<int16_t> QuantiseLevel(std::span<const float> values, double s) {
  std::vector<int16_t> q(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    const float v = values[i];
    // Clamped in floating point: a value beyond the recorded range must not wrap.
    q[i] = IsValidPixel(v) ? int16_t(std::clamp(std::nearbyint(double(v) * s), -32768.0, 32767.0)) : PatchBlank;
  }
  return q;
}

float PatchSearchPixel(const TPatchLevel& level, int32_t x, int32_t y, TPatchScratch& scratch) {
  const int32_t w = level.Width, h = level.Height;
  const float c0 = level.Values[size_t(int64_t(y) * w + x)];
  const std::array<double, WeightSteps + 1>& weight = WeightTable();
  auto& looked = scratch.Looked;
  auto& list = scratch.List;
  looked.fill(false);
  list.clear();
  looked[size_t(LookIndex(0, 0))] = true;
  // At first no candidate weighing less than e^-10 is listed.
  int64_t bound = int64_t(std::nearbyint(std::min(819.15 / level.K, 9e18)));
  int cx = 0, cy = 0, spent = 0;
  double sumW = 0, sumWV = 0, wmax = 0;
  static constexpr int Steps[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
  for (;;) {
    bool lookedNew = false;
    int lastDx = 0, lastDy = 0;
    for (const auto& step : Steps) {
      if (spent >= PatchCandidateBudget) break;
      const int dx = cx + step[0], dy = cy + step[1];
      if (dx < PatchOffsetLow || dx > PatchOffsetHigh || dy < PatchOffsetLow || dy > PatchOffsetHigh) continue;
      bool& seen = looked[size_t(LookIndex(dx, dy))];
      if (seen) continue;
      seen = true;
      const int32_t px = x + dx, py = y + dy;
      if (px < 1 || py < 1 || px > w - 2 || py > h - 2) continue;  // its patch would leave the level
      ++spent;
      lookedNew = true;
      lastDx = dx;
      lastDy = dy;
      if (!IsValidPixel(level.Values[size_t(int64_t(py) * w + px)])) continue;
      const int64_t d = PatchDistance(level, x, y, px, py);
      if (d >= bound) continue;
      const TPatchScratch::TEntry e{d, int8_t(dx), int8_t(dy)};
      list.insert(std::upper_bound(list.begin(), list.end(), e,
                                   [](const auto& a, const auto& b) { return a.Distance < b.Distance; }),
                  e);
      // More entries than looks left: later candidates must beat the last one the budget reaches.
      const int remaining = PatchCandidateBudget - spent;
      if (remaining >= 1 && int(list.size()) > remaining) bound = std::min(bound, list[size_t(remaining - 1)].Distance);
    }
    if (list.empty()) {
      if (!lookedNew) break;
      list.push_back({FarDistance, int8_t(lastDx), int8_t(lastDy)});
    }
    // The best entry, and further ones while they weigh enough.
    double last = 0;
    for (bool first = true; !list.empty(); first = false) {
      const TPatchScratch::TEntry e = list.front();
      const double dk = double(e.Distance) * level.K;
      if (!first) {
        const double enough = spent >= PatchCandidateBudget ? 4.499e-5 : 0.5;
        if (!(last > enough) || !(dk < WeightSteps)) break;
      }
      list.erase(list.begin());
      cx = e.Dx;
      cy = e.Dy;
      if (dk > WeightSteps) break;  // too far to count: the walk only moves there
      const double wt = weight[size_t(std::nearbyint(dk))];
      sumW += wt;
      sumWV += wt * double(level.Values[size_t(int64_t(y + e.Dy) * w + x + e.Dx)]);
      wmax = std::max(wmax, wt);
      last = wt;
    }
    if (spent >= PatchCandidateBudget) break;
  }
  if (!IsValidPixel(c0)) return sumW > 0 ? float(sumWV / sumW) : c0;
  if (!(sumW > 0)) return c0;
  const double centre = wmax < 0.1 ? std::min(1.3 * wmax, 0.1) : wmax;
  return float((sumWV + centre * double(c0)) / (sumW + centre));
}

}  // namespace astrelon
