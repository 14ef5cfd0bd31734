#include "kernels/background/background_edge_fitting.h"

#include <algorithm>
#include <array>
#include <vector>

#include "store/raw/mosaic_repair.h"

namespace astrelon {

namespace {

enum TSide { Top = 0, Left = 1, Right = 2, Bottom = 3 };

struct TEdgeState {
  std::array<TSideFit, 4> Fit{};
  std::array<bool, 4> Room{};
  double W = 1, Hh = 1;  // x2 - x1 and y2 - y1

  int Rooms() const { return int(std::count(Room.begin(), Room.end(), true)); }
};

// The outside-minus-inside profile of one side over `lines` lines, fitted; false
// when either profile has no value at all.
bool FitSide(std::span<const float> d, int32_t width, int32_t height, const TWorkRect& r, TSide side, int lines,
             TEdgeState& e, std::vector<float>& outside, std::vector<float>& inside) {
  const bool horizontal = side == Top || side == Bottom;
  const int32_t n = horizontal ? r.x2 - r.x1 + 1 : r.y2 - r.y1 + 1;
  const TSideFit& T = e.Fit[Top];
  const TSideFit& L = e.Fit[Left];
  const TSideFit& R = e.Fit[Right];
  const TSideFit& B = e.Fit[Bottom];
  // How far the fits across this side move per line outward.
  double slope = 0;
  switch (side) {
    case Top: slope = L.A1 + L.A2 + R.A1 + R.A2; break;
    case Bottom: slope = L.At(e.Hh) + R.At(e.Hh) - L.At(e.Hh + 1) - R.At(e.Hh + 1); break;
    case Left: slope = T.A1 + T.A2 + B.A1 + B.A2; break;
    case Right: slope = T.At(e.W) + B.At(e.W) - T.At(e.W + 1) - B.At(e.W + 1); break;
  }
  outside.assign(size_t(n), BlankPixel);
  inside.assign(size_t(n), BlankPixel);
  bool anyOut = false, anyIn = false;
  for (int32_t i = 0; i < n; ++i) {
    double so = 0, si = 0;
    int co = 0, ci = 0;
    for (int depth = 0; depth < lines; ++depth) {
      int32_t xi = 0, yi = 0, xo = 0, yo = 0;
      switch (side) {
        case Top: xi = xo = r.x1 + i, yi = r.y1 + depth, yo = r.y1 - depth - 1; break;
        case Bottom: xi = xo = r.x1 + i, yi = r.y2 - depth, yo = r.y2 + depth + 1; break;
        case Left: yi = yo = r.y1 + i, xi = r.x1 + depth, xo = r.x1 - depth - 1; break;
        case Right: yi = yo = r.y1 + i, xi = r.x2 - depth, xo = r.x2 + depth + 1; break;
      }
      if (xo >= 0 && xo < width && yo >= 0 && yo < height) {
        const float v = d[size_t(yo) * size_t(width) + size_t(xo)];
        if (IsValidPixel(v)) so += v + (depth + 1) * 0.5 * slope, ++co;
      }
      if (xi >= 0 && xi < width && yi >= 0 && yi < height) {
        const float v = d[size_t(yi) * size_t(width) + size_t(xi)];
        if (IsValidPixel(v)) si += v, ++ci;
      }
    }
    if (co) outside[size_t(i)] = float(so / co), anyOut = true;
    if (ci) inside[size_t(i)] = float(si / ci), anyIn = true;
  }
  if (!anyOut || !anyIn) return false;
  TSideFit& f = e.Fit[side];
  FitQuadraticToRowDifference(outside, inside, f.A0, f.A1, f.A2);
  return true;
}

// Makes the four fits agree at the corners.
void AgreeCorners(TEdgeState& e) {
  auto& [T, L, R, B] = e.Fit;
  const auto& room = e.Room;
  const double W = e.W, Hh = e.Hh;
  // A side without room takes the opposite side (or zeros).
  const auto copy = [&](TSide s, TSide opposite) {
    if (!room[s]) e.Fit[s] = room[opposite] ? e.Fit[opposite] : TSideFit{};
  };
  copy(Top, Bottom);
  copy(Bottom, Top);
  copy(Left, Right);
  copy(Right, Left);
  if (e.Rooms() == 1) {
    const TSide only = room[Top] ? Top : room[Left] ? Left : room[Right] ? Right : Bottom;
    const TSideFit f = e.Fit[only];
    for (TSideFit& x : e.Fit) x.A0 = f.A0;
    if (only == Top || only == Bottom) R.A0 = f.At(W);
    return;
  }
  // Top-left.
  if (!room[Top]) {
    T.A0 = L.A0;
  } else if (!room[Left]) {
    L.A0 = T.A0;
  } else {
    const double d = (T.A0 - L.A0) / 2;
    T.A0 -= d;
    L.A0 += d;
    if (room[Right]) T.A1 += d / W;
    if (room[Bottom]) L.A1 -= d / Hh;
  }
  // Top-right.
  const double e1 = T.At(W);
  if (!room[Top]) {
    if (!room[Left]) {
      T.A0 = T.A0 + R.A0 - e1;
      L.A0 = T.A0;
    } else {
      T.A1 += (R.A0 - T.A0) / W;
    }
  } else if (!room[Right]) {
    R.A0 = e1;
  } else {
    const double d = (e1 - R.A0) / 2;
    R.A0 += d;
    if (!room[Left]) {
      T.A0 -= d;
      L.A0 = T.A0;
      if (room[Bottom]) L.A1 += d / Hh;
    } else {
      T.A1 -= d / W;
    }
    if (room[Bottom]) R.A1 -= d / Hh;
  }
  // Bottom-left.
  const double g = L.At(Hh), h = R.At(Hh);
  if (room[Left]) {
    if (!room[Bottom]) {
      if (room[Right]) B.A1 += (B.A0 - g) / W;
      B.A0 = g;
    } else {
      const double d = (g - B.A0) / 2;
      B.A0 += d;
      if (room[Right]) B.A1 -= d / W;
      if (!room[Top]) {
        L.A0 -= d;
        T.A0 = L.A0;
        if (room[Right]) T.A1 += d / W;
      } else {
        L.A1 -= d / Hh;
      }
    }
  }
  // Bottom-right.
  const double m = B.At(W);
  if (!room[Right]) {
    if (room[Bottom]) R.A1 += (m - h) / Hh;
  } else {
    const double d = (h - m) / 2;
    B.A1 += d / W;
    R.A1 -= d / Hh;
  }
}

}  // namespace

void FitFlattenedEdges(std::span<const float> source, std::span<float> flattened, int32_t width, int32_t height,
                       const TWorkRect& r) {
  if (r.x2 <= r.x1 || r.y2 <= r.y1) return;
  TEdgeState e;
  e.Room = {r.y1 > 1, r.x1 > 1, r.x2 < width - 2, r.y2 < height - 2};
  if (!e.Rooms()) return;
  const int32_t W = r.x2 - r.x1, Hh = r.y2 - r.y1;
  e.W = W;
  e.Hh = Hh;
  std::vector<float> outside, inside;
  for (int pass = 0; pass < 2; ++pass) {
    for (TSide side : {Top, Bottom, Left, Right}) {
      if (!e.Room[side]) continue;
      const bool horizontal = side == Top || side == Bottom;
      const int lines = pass == 0 ? 2 : std::max(2, (horizontal ? Hh : W) / 4 + 1);
      if (!FitSide(flattened, width, height, r, side, lines, e, outside, inside)) e.Room[side] = false;
    }
    AgreeCorners(e);
  }
  if (!e.Rooms()) return;
  const TSideFit& T = e.Fit[Top];
  const TSideFit& L = e.Fit[Left];
  const TSideFit& R = e.Fit[Right];
  const TSideFit& B = e.Fit[Bottom];
  const int32_t qx = std::max(W / 4, 1), qy = std::max(Hh / 4, 1);
  const auto fade = [](int32_t pos, int32_t len, int32_t q, bool low, bool high) {
    if (low && pos < q) return double(pos) / q;
    if (high && len - pos < q) return double(len - pos) / q;
    return 1.0;
  };
  for (int32_t y = 0; y <= Hh; ++y) {
    const double c2 = T.A2 + (B.A2 - T.A2) * y / Hh;
    const double left = L.At(y);
    const double slope = (R.At(y) - left - double(W) * W * c2) / W;
    const double fy = fade(y, Hh, qy, e.Room[Top], e.Room[Bottom]);
    for (int32_t x = 0; x <= W; ++x) {
      const size_t i = size_t(r.y1 + y) * size_t(width) + size_t(r.x1 + x);
      const float v = flattened[i];
      if (!IsValidPixel(v)) continue;
      const double corr = left + x * slope + double(x) * x * c2;
      const double s = source[i];
      flattened[i] = float(((v + corr) - s) * fade(x, W, qx, e.Room[Left], e.Room[Right]) * fy + s);
    }
  }
}

}  // namespace astrelon
