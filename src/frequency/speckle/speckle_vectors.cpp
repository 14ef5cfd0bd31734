#include "frequency/speckle/speckle_vectors.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>
#include <utility>
#include <vector>

#include "common/pascal_format.h"
#include "kernels/fft/fft_sizes.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

// The list while it is built: room for the short vectors is kept in reserve
// until they are met or appended.
class TVectorBuilder {
public:
  explicit TVectorBuilder(TShiftVectors& v) : v_(v) {
    for (auto [x, y] : {std::pair{1, 0}, {0, 1}, {0, -1}}) Push(x, y);
  }

  // Adds (x, y) and, when y > 0, (x, -y); false (nothing added) when they do
  // not fit beside the reserve, which ends the build.
  bool Add(int32_t x, int32_t y) {
    const bool shortPair = (x == 0 && y == 2) || (x == 1 && y == 1);
    const bool shortOne = x == 2 && y == 0;
    const int32_t adds = y > 0 ? 2 : 1;
    const int32_t fromReserve = shortPair ? 2 : shortOne ? 1 : 0;
    if (v_.Total + adds + reserve_ - fromReserve > TShiftVectors::Capacity) return false;
    Push(x, y);
    if (y > 0) Push(x, -y);
    reserve_ -= fromReserve;
    return true;
  }
  // The build stops once the list and the reserve fill the capacity.
  bool Full() const { return v_.Total + reserve_ >= TShiftVectors::Capacity; }

  // Fixes the regular count and appends the short vectors not yet present.
  void Finish() {
    v_.Regular = v_.Total;
    for (auto [x, y] : {std::pair{2, 0}, {0, 2}, {0, -2}, {1, 1}, {1, -1}})
      if (!Has(x, y)) Push(x, y);
  }

private:
  void Push(int32_t x, int32_t y) {
    ++v_.Total;
    v_.Dx[size_t(v_.Total)] = int16_t(x);
    v_.Dy[size_t(v_.Total)] = int16_t(y);
  }
  bool Has(int32_t x, int32_t y) const {
    for (int32_t u = 1; u <= v_.Total; ++u)
      if (v_.Dx[size_t(u)] == x && v_.Dy[size_t(u)] == y) return true;
    return false;
  }
  TShiftVectors& v_;
  int32_t reserve_ = 5;
};

}  // namespace

THalfAxes SpeckleHalfAxes(int32_t w, int32_t h, double seeing) {
  const double s = std::max(std::isfinite(seeing) ? seeing : 2.0, 2.0);
  const double nx = double(NextGoodFftSize(std::max(w, 1), true)) + 1;
  const double ny = double(NextGoodFftSize(std::max(h, 1), true)) + 1;
  return {float(nx / s), float(ny / s)};
}

TShiftVectors BuildShiftVectors(float rx, float ry) {
  TShiftVectors v;
  // Half axes beyond the 16-bit vector components mean nothing here.
  rx = std::clamp(std::isfinite(rx) ? rx : 1.0f, 1.0f, 30000.0f);
  ry = std::clamp(std::isfinite(ry) ? ry : 1.0f, 1.0f, 30000.0f);
  double g = 1;
  if (double(rx) * ry * 1.665 > 245) {
    const double f = std::sqrt(245 / (double(rx) * ry * 1.665));
    rx = std::max(float(rx * f), 1.0f);
    ry = std::max(float(ry * f), 1.0f);
    g = 1 / f;
  }
  v.Rx = rx;
  v.Ry = ry;
  TVectorBuilder list(v);
  const int32_t tx = Trunc32(rx), ty = Trunc32(ry);
  const int32_t gw = Round32(tx * g) + 1, gh = Round32(ty * g) + 1;
  // The covered cells of the gw × gh map; few of them are ever marked.
  std::set<std::pair<int32_t, int32_t>> covered{{0, 0}, {1, 0}, {0, 1}};

  bool room = !list.Full();
  for (int32_t y = 0; y <= ty && room; ++y)
    for (int32_t x = 0; x <= tx && room; ++x) {
      const double ex = double(x) / rx, ey = double(y) / ry;
      if (x + y <= 1 || ex * ex + ey * ey > 1) continue;
      const int32_t X = Round32(x * g), Y = Round32(y * g);
      room = list.Add(X, Y) && !list.Full();
      covered.insert({X, Y});
    }

  // A scaled grid leaves gaps near the origin: they are filled in growing squares.
  auto fill = [&](int32_t X, int32_t Y) {
    if (covered.count({X, Y})) return;
    const double ex = X / (g * rx), ey = Y / (g * ry);
    if (ex * ex + ey * ey > 1) return;
    room = list.Add(X, Y) && !list.Full();
    covered.insert({X, Y});
  };
  if (g > 1)
    for (int32_t X = 1; X < gw && room; ++X) {
      for (int32_t Y = 0; Y <= std::min(X, gh - 1) && room; ++Y) fill(X, Y);
      if (X < gh)
        for (int32_t x = 0; x < X && room; ++x) fill(x, X);
    }
  list.Finish();
  return v;
}

void SortShiftVectors(TShiftVectors& v) {
  if (v.Total <= 4) return;
  const size_t n = size_t(v.Total - 3);
  std::vector<float> keys(n);
  std::vector<int32_t> order(n);
  for (size_t k = 0; k < n; ++k) {
    const float ex = v.Dx[k + 4] / v.Rx, ey = v.Dy[k + 4] / v.Ry;
    keys[k] = ex * ex + ey * ey;
  }
  std::iota(order.begin(), order.end(), 0);
  SortIndices(keys, order);
  const TShiftVectors old = v;
  for (size_t k = 0; k < n; ++k) {
    v.Dx[k + 4] = old.Dx[size_t(order[k]) + 4];
    v.Dy[k + 4] = old.Dy[size_t(order[k]) + 4];
  }
}

}  // namespace astrelon
