#include "filters/enlargement/edge_corrections.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace astrelon {

namespace {

// A neighbour of a class: its offset and whether it is read as it was before
// the pass (row y - 1, and row y to the left).
struct TNeighbour {
  int8_t Dx = 0, Dy = 0;
  bool Old = false;
};
// One neighbour, or a pair that counts as one (the mean of the two).
struct TNeighbourTerm {
  TNeighbour A, B;
  bool Pair = false;
};
using TClassNeighbours = std::array<TNeighbourTerm, 4>;

constexpr TNeighbourTerm One(int dx, int dy, bool old = false) {
  return {{int8_t(dx), int8_t(dy), old}, {}, false};
}
constexpr TNeighbourTerm Two(TNeighbour a, TNeighbour b) { return {a, b, true}; }
constexpr TNeighbour N(int dx, int dy, bool old = false) { return {int8_t(dx), int8_t(dy), old}; }

constexpr std::array<TClassNeighbours, 8> ClassNeighbours = {{
    {One(-1, 0, true), One(1, 0), One(2, 0), One(-2, 0)},
    {One(-2, 0, true), Two(N(-1, -1, true), N(-1, 0, true)), Two(N(1, 0), N(1, 1)), One(2, 1)},
    {One(-1, -1, true), One(-2, -2), One(1, 1), One(2, 2)},
    {One(-1, -2), Two(N(-1, -1, true), N(0, -1, true)), Two(N(0, 1), N(1, 1)), One(1, 2)},
    {One(0, -2), One(0, -1, true), One(0, 1), One(0, 2)},
    {One(1, -2), Two(N(1, -1, true), N(0, -1, true)), Two(N(0, 1), N(-1, 1)), One(-1, 2)},
    {One(1, -1, true), One(2, -2), One(-1, 1), One(-2, 2)},
    {One(2, -1, true), Two(N(1, -1, true), N(1, 0)), Two(N(-1, 1), N(-1, 0, true)), One(-2, 1)},
}};

}  // namespace

void SmoothDirectionMap(std::span<uint8_t> map, int32_t w, int32_t h) {
  if (w < 3 || h < 3 || map.size() < size_t(w) * size_t(h)) return;
  // The old values of rows y - 1, y and y + 1.
  std::vector<uint8_t> ring(size_t(3) * size_t(w));
  auto old = [&](int32_t y) { return ring.data() + size_t(y % 3) * size_t(w); };
  auto keep = [&](int32_t y) { std::copy_n(map.data() + size_t(y) * size_t(w), w, old(y)); };
  keep(0);
  keep(1);
  for (int32_t y = 1; y < h - 1; ++y) {
    keep(y + 1);
    uint8_t* row = map.data() + size_t(y) * size_t(w);
    for (int32_t x = 1; x < w - 1; ++x) {
      std::array<int32_t, 8> sum{};
      for (int32_t dy = -1; dy <= 1; ++dy) {
        const uint8_t* r = old(y + dy);
        for (int32_t dx = -1; dx <= 1; ++dx) {
          const uint8_t b = r[x + dx];
          sum[size_t(DirectionClassOf(b))] += DirectionWeightOf(b);
        }
      }
      size_t best = 0;
      for (size_t k = 1; k < 8; ++k)
        if (sum[k] > sum[best]) best = k;
      if (sum[best] > 0) row[x] = uint8_t((row[x] & ~7) | int32_t(best));
    }
  }
}

bool CorrectEdges(const TImageSlot& source, TImageSlot& result, std::span<const uint8_t> map, THiFVariant variant,
                  double range, const std::function<bool(int plane, int pass)>& poll) {
  const int32_t w2 = result.Width, h2 = result.Height, w = source.Width;
  if (w2 < 10 || h2 < 10) return true;
  const double c = 0.005 * range;
  const bool tri = variant == THiFVariant::Tri;
  std::vector<float> before(static_cast<size_t>(w2)), saved(static_cast<size_t>(w2));
  for (int p = 1; p <= result.PlaneCount; ++p) {
    float* plane = result.Planes[size_t(p)].data();
    const float* src = source.Planes[size_t(p)].data();
    auto at = [&](int32_t x, int32_t y) -> float& { return plane[size_t(y) * size_t(w2) + size_t(x)]; };
    for (int pass = 1; pass <= 3; ++pass) {
      const double f = pass - 1;
      // `before`: row Y - 1 as it was before this pass; `saved`: row Y likewise.
      std::copy_n(plane + size_t(3) * size_t(w2), w2, before.data());
      for (int32_t Y = 4; Y <= h2 - 5; ++Y) {
        std::copy_n(plane + size_t(Y) * size_t(w2), w2, saved.data());
        auto read = [&](int32_t X, const TNeighbour& n) -> float {
          if (n.Old) return n.Dy < 0 ? before[size_t(X + n.Dx)] : saved[size_t(X + n.Dx)];
          return at(X + n.Dx, Y + n.Dy);
        };
        const bool oddY = Y % 2 == 1;
        for (int32_t X = 4; X <= w2 - 5; ++X) {
          const float s = src[size_t(Y / 2) * size_t(w) + size_t(X / 2)];
          const float v = at(X, Y);
          if (!IsValidPixel(s) || !IsValidPixel(v)) continue;
          // The block's mean: its upper row as before the pass, its lower row as
          // the plane holds it (for odd X and Y the left member is corrected).
          const int32_t x0 = X - X % 2;
          const float block[4] = {oddY ? before[size_t(x0)] : saved[size_t(x0)],
                                  oddY ? before[size_t(x0 + 1)] : saved[size_t(x0 + 1)],
                                  oddY ? at(x0, Y) : at(x0, Y + 1), oddY ? at(x0 + 1, Y) : at(x0 + 1, Y + 1)};
          double sum = 0;
          int count = 0;
          for (float b : block)
            if (IsValidPixel(b)) sum += b, ++count;
          if (count == 0) continue;
          const double diff = s - sum / count;
          if (!(std::abs(diff) > 1.0)) continue;
          const double lim = 0.66666667 * diff;
          const uint8_t code = tri ? map[size_t(Y / 2) * size_t(w) + size_t(X / 2)] : map[size_t(Y) * size_t(w2) + size_t(X)];
          double total = 0;
          int terms = 0;
          for (const TNeighbourTerm& t : ClassNeighbours[size_t(DirectionClassOf(code))]) {
            const float a = read(X, t.A);
            if (!IsValidPixel(a)) continue;
            if (!t.Pair) {
              total += a;
              ++terms;
              continue;
            }
            const float b = read(X, t.B);
            if (!IsValidPixel(b)) continue;
            total += (double(a) + b) / 2;
            ++terms;
          }
          if (terms == 0) continue;
          const double avg = total / terms;
          double value = v;
          if (diff <= 0) {
            const double target = avg - f * c;
            if (target < value) value = std::max(value + std::max((target - value) / 2, lim), target);
          } else {
            const double target = avg + f * c;
            if (value < target) value = std::min(value + std::min((target - value) / 2, lim), target);
          }
          at(X, Y) = float(value);
        }
        std::swap(before, saved);
        if (poll && !poll(p, pass)) return false;
      }
    }
  }
  return true;
}

}  // namespace astrelon
