#include "filters/enlargement/upscale_x2_nedi.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "filters/enlargement/upscale_x2_triangulation.h"
#include "kernels/gauss/filter_rows.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

inline bool AllValid(float a, float b, float c, float d) {
  return IsValidPixel(a) && IsValidPixel(b) && IsValidPixel(c) && IsValidPixel(d);
}

inline double Sq(double v) { return v * v; }

// The centre of source cell (x, y) of plane `s` (w wide); false when it keeps
// its value.
bool CellCentre(const float* s, int32_t w, int32_t x, int32_t y, double eps, float& value) {
  auto at = [&](int32_t cx, int32_t cy) { return s[size_t(cy) * size_t(w) + size_t(cx)]; };
  const float a = at(x, y), b = at(x + 1, y), c = at(x, y + 1), d = at(x + 1, y + 1);
  if (!AllValid(a, b, c, d)) return false;
  double wa = 0, wb = 0, wc = 0, wd = 0;
  for (int32_t i = -3; i <= 3; ++i) {
    if (i == 0) continue;
    for (int32_t j = -3; j <= 3; ++j) {
      if (j == 0) continue;
      const float qa = at(x + j - 1, y + i - 1), qb = at(x + j + 1, y + i - 1);
      const float qc = at(x + j - 1, y + i + 1), qd = at(x + j + 1, y + i + 1);
      if (!AllValid(qa, qb, qc, qd)) continue;
      const double D = Sq(double(qa) - a) + Sq(double(qb) - b) + Sq(double(qc) - c) + Sq(double(qd) - d);
      const double g = double(std::abs(i) + std::abs(j) + 1) / (double(i * i + j * j + 1) * (D + eps));
      (i < 0 ? (j < 0 ? wa : wb) : (j < 0 ? wc : wd)) += g;
    }
  }
  const double sum = wa + wb + wc + wd;
  if (!(sum > 0)) return false;
  value = float((a * wa + b * wb + c * wc + d * wd) / sum);
  return true;
}

// The edge midpoint (X, Y) of result plane `r` (w2 wide).
bool EdgeMidpoint(const float* r, int32_t w2, int32_t X, int32_t Y, double eps, float& value) {
  auto at = [&](int32_t cx, int32_t cy) { return r[size_t(cy) * size_t(w2) + size_t(cx)]; };
  const float u = at(X, Y - 1), l = at(X - 1, Y), rt = at(X + 1, Y), v = at(X, Y + 1);
  if (!AllValid(u, l, rt, v)) return false;
  double wu = 0, wl = 0, wr = 0, wv = 0;
  for (int32_t i = -3; i <= 3; ++i)
    for (int32_t j = -3; j <= 3; ++j) {
      if (std::abs(i) == std::abs(j)) continue;
      const int32_t cx = X + 2 * j, cy = Y + 2 * i;
      const float qu = at(cx, cy - 1), ql = at(cx - 1, cy), qr = at(cx + 1, cy), qv = at(cx, cy + 1);
      if (!AllValid(qu, ql, qr, qv)) continue;
      const double D = Sq(double(qu) - u) + Sq(double(ql) - l) + Sq(double(qr) - rt) + Sq(double(qv) - v);
      const double g = 1.0 / (double(i * i + j * j + 1) * (D + eps));
      if (std::abs(i) > std::abs(j))
        (i < 0 ? wu : wv) += double(std::abs(j) + 1) * g;
      else
        (j < 0 ? wl : wr) += double(std::abs(i) + 1) * g;
    }
  const double sum = wu + wl + wr + wv;
  if (!(sum > 0)) return false;
  value = float((u * wu + l * wl + rt * wr + v * wv) / sum);
  return true;
}

}  // namespace

bool UpscaleX2Nedi(int source, int destination, const TEnlargementPoll& poll) {
  if (!UpscaleX2Triangulation(source, destination, poll)) return false;
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(destination)];
  const int32_t w = s.Width, h = s.Height, w2 = d.Width, h2 = d.Height;
  for (int p = 1; p <= s.PlaneCount; ++p) {
    double eps = EstimatePlaneNoise(source, p);
    eps = std::max(eps * eps, 0.01);
    const float* in = s.Planes[size_t(p)].data();
    float* r = d.Planes[size_t(p)].data();
    // The centres read the source only; the midpoints read only pixels whose
    // coordinates add up to an even number, which they never write.
    if (w >= 10 && h >= 10)
      ForEachBand(h - 9, FilterThreads(int64_t(w) * h * 36), [&](int64_t first, int64_t last) {
        for (int32_t y = int32_t(first) + 4; y < int32_t(last) + 4; ++y)
          for (int32_t x = 4; x <= w - 6; ++x) {
            float v;
            if (CellCentre(in, w, x, y, eps, v)) r[size_t(2 * y + 1) * size_t(w2) + size_t(2 * x + 1)] = v;
          }
      });
    if (h2 >= 18 && w2 >= 18)
      ForEachBand(h2 - 17, FilterThreads(int64_t(w) * h * 60), [&](int64_t first, int64_t last) {
        for (int32_t y = int32_t(first) + 8; y < int32_t(last) + 8; ++y)
          for (int32_t x = 9 - (y % 2); x <= w2 - 10; x += 2) {
            float v;
            if (EdgeMidpoint(r, w2, x, y, eps, v)) r[size_t(y) * size_t(w2) + size_t(x)] = v;
          }
      });
  }
  return true;
}

}  // namespace astrelon
