#include "frequency/wavelet/wavelet_patch_search.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "frequency/wavelet/wavelet_rounding.h"
#include "platform/parallel_bands.h"
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

// The sum of squared differences of the 3 x 3 patches around a and b (rows w
// apart), shifted right by 3. A difference of two 16-bit values squared fits 32
// bits unsigned; nine of them need more.
[[gnu::always_inline]] inline int64_t PatchDistance(const int16_t* a, const int16_t* b, int64_t w) {
  auto square = [&](int64_t i) {
    const int32_t d = int32_t(a[i]) - int32_t(b[i]);
    return uint64_t(uint32_t(d * int64_t(d)));
  };
  auto row = [&](int64_t r) { return square(r - 1) + square(r) + square(r + 1); };
  return int64_t((row(-w) + row(0) + row(w)) >> 3);
}

constexpr int LookIndex(int dx, int dy) {
  return (dy - PatchOffsetLow + 1) * TPatchScratch::Side + (dx - PatchOffsetLow + 1);
}

using TEntry = TPatchScratch::TEntry;

// The filtered value of pixel (x, y); `Edge` when some offset's patch may leave
// the level; `firstBound` the distance above which no candidate is listed at first.
template <bool Edge>
float SearchPixel(const TPatchLevel& level, const std::array<double, WeightSteps + 1>& weight, int64_t firstBound,
                  int32_t x, int32_t y, TPatchScratch& scratch) {
  const int32_t w = level.Width;
  [[maybe_unused]] const int32_t h = level.Height;
  const int64_t centre = int64_t(y) * w + x;
  const float* values = level.Values.data();
  const int16_t* q = level.Q.data() + centre;
  const float c0 = values[centre];
  // A new stamp marks every offset as not looked at; at the wrap the marks are
  // cleared.
  if (++scratch.Stamp == TPatchScratch::Always) {
    scratch.ClearMarks();
    scratch.Stamp = 1;
  }
  const uint32_t stamp = scratch.Stamp;
  uint32_t* looked = scratch.Looked.data();
  // The list of candidates, sorted by distance (equal ones in the order found):
  // entries head .. tail-1.
  TEntry* list = scratch.List.data();
  int head = 0, tail = 0;
  looked[LookIndex(0, 0)] = stamp;
  int64_t bound = firstBound;
  int cx = 0, cy = 0, spent = 0;
  double sumW = 0, sumWV = 0, wmax = 0;
  static constexpr int Steps[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
  for (;;) {
    bool lookedNew = false;
    int lastDx = 0, lastDy = 0;
    for (const auto& step : Steps) {
      if (spent >= PatchCandidateBudget) break;
      const int dx = cx + step[0], dy = cy + step[1];
      // Offsets looked at and those beyond the grid are passed over.
      uint32_t& seen = looked[LookIndex(dx, dy)];
      if (seen >= stamp) continue;
      seen = stamp;
      if constexpr (Edge) {
        const int32_t px = x + dx, py = y + dy;
        if (px < 1 || py < 1 || px > w - 2 || py > h - 2) continue;  // its patch would leave the level
      }
      ++spent;
      lookedNew = true;
      lastDx = dx;
      lastDy = dy;
      const int64_t offset = int64_t(dy) * w + dx;
      if (!IsValidPixel(values[centre + offset])) continue;
      const int64_t d = PatchDistance(q, q + offset, w);
      if (d >= bound) continue;
      // After the entries of equal or smaller distance.
      int at = tail;
      while (at > head && list[at - 1].Distance > d) {
        list[at] = list[at - 1];
        --at;
      }
      list[at] = {d, int8_t(dx), int8_t(dy)};
      ++tail;
      // More entries than looks left: later candidates must beat the last one
      // the budget reaches.
      const int remaining = PatchCandidateBudget - spent;
      if (remaining >= 1 && tail - head > remaining) bound = std::min(bound, list[head + remaining - 1].Distance);
    }
    if (head == tail) {
      if (!lookedNew) break;
      head = tail = 0;
      list[tail++] = {FarDistance, int8_t(lastDx), int8_t(lastDy)};
    }
    // The best entry, and further ones while they weigh enough.
    double last = 0;
    for (bool first = true; head < tail; first = false) {
      const TEntry e = list[head];
      const double dk = double(e.Distance) * level.K;
      if (!first) {
        const double enough = spent >= PatchCandidateBudget ? 4.499e-5 : 0.5;
        if (!(last > enough) || !(dk < WeightSteps)) break;
      }
      ++head;
      cx = e.Dx;
      cy = e.Dy;
      if (dk > WeightSteps) break;  // too far to count: the walk only moves there
      const double wt = weight[size_t(NearestWhole(dk))];
      sumW += wt;
      sumWV += wt * double(values[centre + int64_t(e.Dy) * w + e.Dx]);
      wmax = std::max(wmax, wt);
      last = wt;
    }
    if (spent >= PatchCandidateBudget) break;
  }
  if (!IsValidPixel(c0)) return sumW > 0 ? float(sumWV / sumW) : c0;
  if (!(sumW > 0)) return c0;
  const double middle = wmax < 0.1 ? std::min(1.3 * wmax, 0.1) : wmax;
  return float((sumWV + middle * double(c0)) / (sumW + middle));
}

}  // namespace

std::vector<int16_t> QuantiseLevel(std::span<const float> values, double s, int threads) {
  std::vector<int16_t> q(values.size());
  ForEachBand(int64_t(values.size()), threads, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      const float v = values[size_t(i)];
      // Clamped in floating point: a value beyond the recorded range must
      // not wrap.
      const double r = std::clamp(double(v) * s, -40000.0, 40000.0);
      q[size_t(i)] = IsValidPixel(v) ? int16_t(std::clamp(NearestWhole(r), -32768.0, 32767.0)) : PatchBlank;
    }
  });
  return q;
}

void PatchSearchRow(const TPatchLevel& level, int32_t y, int32_t first, int32_t last, float* out,
                    TPatchScratch& scratch) {
  const int64_t w = level.Width, h = level.Height;
  if (first >= last) return;
  if (y < 2 || y > h - 3 || first < 2 || last > w - 2 || level.Values.size() < size_t(w * h) ||
      level.Q.size() < size_t(w * h))
    throw std::invalid_argument("patch search outside the level's interior");
  const std::array<double, WeightSteps + 1>& weight = WeightTable();
  // At first no candidate weighing less than e^-10 is listed.
  const int64_t bound = int64_t(std::nearbyint(std::min(819.15 / level.K, 9e18)));
  // Pixels whose every offset's patch lies inside the level.
  const int32_t low = 1 - PatchOffsetLow, high = int32_t(w) - 2 - PatchOffsetHigh;
  const bool rowInside = y >= low && y <= int32_t(h) - 2 - PatchOffsetHigh;
  for (int32_t x = first; x < last; ++x)
    out[x] = rowInside && x >= low && x <= high ? SearchPixel<false>(level, weight, bound, x, y, scratch)
                                                : SearchPixel<true>(level, weight, bound, x, y, scratch);
}

}  // namespace astrelon
