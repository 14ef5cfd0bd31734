#include "pixelops/mosaic/mosaic_kimmel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/pascal_format.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Iteration counts: per pixel the number of refinement passes it takes part in,
// per row the largest of its pixels.
struct TKimmelCounts {
  std::vector<uint8_t> Pixel, Row;
};

// The planes of the result, the mosaic and the measures shared by the stages.
struct TKimmelView {
  int32_t W = 0, H = 0;
  const float* M = nullptr;
  float* P[4] = {};  // 1 R, 2 G, 3 B
  double S3 = 0.01;

  explicit TKimmelView(const TMosaicStage& job) {
    TImageSlot& dst = Store.Image[size_t(job.Destination)];
    W = dst.Width;
    H = dst.Height;
    M = Store.Image[size_t(job.Source)].Planes[1].data();
    for (int p = 1; p <= 3; ++p) P[p] = dst.Planes[size_t(p)].data();
    S3 = std::max(0.01 * job.Noise, 0.01);
  }
  size_t At(int32_t x, int32_t y) const { return size_t(y) * size_t(W) + size_t(x); }
};

bool IsGreen(int32_t x, int32_t y) { return MosaicCellColor(MosaicPattern, x, y) == McGreen; }
int32_t OwnPlane(int32_t x, int32_t y) { return MosaicCellColor(MosaicPattern, x, y) == McRed ? 1 : 3; }

// Edge weight 0.1 / (0.1 + d^(2^m)) in double: d^8 of 16-bit data leaves float.
double EdgeWeight(double d, int32_t m, double k) {
  for (int32_t i = 0; i < m; ++i) d *= d;
  return k / (k + d);
}

int32_t PowerOf(double dh, double dv, double s3) {
  return int32_t(std::clamp<int64_t>(Round((dh + dv) / (7000 * s3)), 0, 3));
}

// Mix of the horizontal pair a and vertical pair b by weights; the plain mean
// of the four when both weights vanish.
double Mix(double h, double v, double wh, double wv) {
  if (!(wh + wv > 0)) return (h + v) / 4;
  return (h * wh + v * wv) / (2 * (wh + wv));
}

// Line variance of second differences of v(-r .. r) (r = 3 or 7) centred at
// offset 0: even centres give value - mean of its neighbours, odd centres the
// negative; 5 terms (r = 3) or 13 terms (r = 7).
template <typename F>
double LineVariance(F&& v, int32_t r) {
  double sum = 0, squares = 0;
  for (int32_t c = -r + 1; c <= r - 1; ++c) {
    const double e = (v(c) - (v(c - 1) + v(c + 1)) / 2) * ((c & 1) ? -1 : 1);
    sum += e;
    squares += e * e;
  }
  const double n = 2 * r - 1;
  return squares / n - (sum / n) * (sum / n);
}

// Horizontal and vertical line variances around (x, y): along the row L(0) and
// L(+-2), L(+-3) from `c`, L(+-1) from the green; widened to 13 terms when the
// two are close.
std::array<double, 2> LineVariances(const TKimmelView& v, const float* c, int32_t x, int32_t y, int32_t count) {
  const float* g = v.P[2];
  const ptrdiff_t W = v.W;
  const size_t i = v.At(x, y);
  auto row = [&](int32_t d) { return double((d == 1 || d == -1) ? g[i + d] : c[i + d]); };
  auto col = [&](int32_t d) { return double((d == 1 || d == -1) ? g[ptrdiff_t(i) + d * W] : c[ptrdiff_t(i) + d * W]); };
  double vh = LineVariance(row, 3), vv = LineVariance(col, 3);
  if (std::abs(vh - vv) / count < v.S3 * v.S3 * 80000) {
    vh = LineVariance(row, 7);
    vv = LineVariance(col, 7);
  }
  return {vh, vv};
}

bool VarianceWindowFits(const TKimmelView& v, int32_t x, int32_t y) {
  return y >= 7 && y <= v.H - 8 && x > 6 && x < v.W - 7;
}

// Stage 1: green at the non-green sites of the worker's rows, with the pixels'
// iteration counts.
void KimmelGreenRows(const TKimmelView& v, TKimmelCounts& counts, int32_t first, int32_t step) {
  const int32_t w = v.W, h = v.H;
  const ptrdiff_t W = w;
  const float* M = v.M;
  float* g = v.P[2];
  for (int32_t y = first + 2; y <= h - 3; y += step) {
    uint8_t rowCount = 0;
    int32_t x = IsGreen(0, y) ? 3 : 2;
    for (; x <= w - 3; x += 2) {
      const ptrdiff_t i = ptrdiff_t(v.At(x, y));
      auto G = [&](int32_t dy, int32_t dx) { return double(g[i + dy * W + dx]); };
      double dh = 0.001 + 2 * std::abs(G(0, -1) - G(0, 1)) + std::abs(G(-1, -2) - G(-1, 0)) +
                  std::abs(G(1, -2) - G(1, 0)) + std::abs(G(-1, 0) - G(-1, 2)) + std::abs(G(1, 0) - G(1, 2)) +
                  std::abs(G(-2, -1) - G(-2, 1)) + std::abs(G(2, -1) - G(2, 1));
      dh = x < 3 ? dh * 1.125 : dh + std::abs(G(0, -1) - M[i - 3]);
      dh = x < w - 3 ? dh + std::abs(G(0, 1) - M[i + 3]) : dh * 1.1111;
      double dv = 0.001 + 2 * std::abs(G(-1, 0) - G(1, 0)) + std::abs(G(-2, -1) - G(0, -1)) +
                  std::abs(G(-2, 1) - G(0, 1)) + std::abs(G(-1, -2) - G(1, -2)) + std::abs(G(-1, 2) - G(1, 2)) +
                  std::abs(G(0, -1) - G(2, -1)) + std::abs(G(0, 1) - G(2, 1));
      dv = y < 3 ? dv * 1.125 : dv + std::abs(G(-1, 0) - M[i - 3 * W]);
      dv = y < h - 3 ? dv + std::abs(G(1, 0) - M[i + 3 * W]) : dv * 1.1111;
      const int32_t m = PowerOf(dh, dv, v.S3);
      const double l = G(0, -1), r = G(0, 1), u = G(-1, 0), d = G(1, 0);
      double green = Mix(l + r, u + d, EdgeWeight(dh, m, 0.1), EdgeWeight(dv, m, 0.1));
      const double edge = std::abs(l - r) + std::abs(l - u) + std::abs(l - d) + std::abs(r - u) + std::abs(r - d) +
                          std::abs(u - d);
      double q = std::min(1.67 * edge / (700 * v.S3 + std::abs(dh - dv)) + 1.5, 12.0);
      int64_t count = Round(q);
      if (q > 3 && VarianceWindowFits(v, x, y)) {
        const auto [vh, vv] = LineVariances(v, M, x, y, int32_t(count));
        green = vh <= vv ? (l + r) / 2 : (u + d) / 2;
        q = std::min(std::abs((l + r + u + d) / 4 - green) / (300 * v.S3 + std::abs(dh - dv)) * 20 + 2.5, 12.0);
        count = Round(q);
      }
      g[i] = float(green);
      const uint8_t c = uint8_t(std::clamp<int64_t>(count, 0, 12));
      counts.Pixel[size_t(i)] = c;
      counts.Pixel[size_t(i) + 1] = c;
      rowCount = std::max(rowCount, c);
    }
    if (x < w) {  // the next non-green site at the right edge
      const ptrdiff_t i = ptrdiff_t(v.At(x, y));
      g[i] = (M[i - 1] + M[i - W] + M[i + W]) / 3;
    }
    counts.Row[size_t(y)] = rowCount;
  }
}

// Colour-difference fill of `plane` at (x, y) over four neighbours (diagonal or
// direct, given as two opposite pairs); `diff` gives the colour difference at a
// neighbour and `pairTerm` the term shared by a pair.
template <typename D, typename T>
float DifferenceFill(const TKimmelView& v, size_t i, const std::array<ptrdiff_t, 4>& nb, D&& diff, T&& pairTerm) {
  const float* g = v.P[2];
  const double gc = g[i];
  double sum = 0, weights = 0;
  for (size_t k = 0; k < 4; ++k) {
    const ptrdiff_t at = ptrdiff_t(i) + nb[k];
    const double dg = gc - g[at];
    const double w = 1 / (0.1 + dg * dg + pairTerm(k < 2 ? 0 : 1));
    sum += w * diff(at);
    weights += w;
  }
  return float(gc + sum / weights);
}

// Stages 2 and 3: the missing colour at red and blue sites from the diagonal
// neighbours, then red and blue at green sites from the direct neighbours.
void KimmelColourRows(const TKimmelView& v, int32_t first, int32_t step, bool greenSites) {
  const ptrdiff_t W = v.W;
  const float* g = v.P[2];
  const std::array<ptrdiff_t, 4> diagonal{-W - 1, W + 1, -W + 1, W - 1};
  const std::array<ptrdiff_t, 4> direct{-W, W, -1, 1};
  for (int32_t y = first + 2; y <= v.H - 3; y += step) {
    for (int32_t x = 2; x <= v.W - 3; ++x) {
      if (IsGreen(x, y) != greenSites) continue;
      const size_t i = v.At(x, y);
      if (!greenSites) {
        auto d = [&](ptrdiff_t at) { return double(v.M[at]) - g[at]; };
        auto pair = [&](int k) {
          const double t = d(ptrdiff_t(i) + diagonal[size_t(2 * k)]) - d(ptrdiff_t(i) + diagonal[size_t(2 * k + 1)]);
          return t * t;
        };
        v.P[4 - OwnPlane(x, y)][i] = DifferenceFill(v, i, diagonal, d, pair);
      } else {
        for (int p : {1, 3}) {
          const float* c = v.P[p];
          auto d = [&](ptrdiff_t at) { return double(c[at]) - g[at]; };
          auto pair = [&](int k) {
            const double t = d(ptrdiff_t(i) + direct[size_t(2 * k)]) - d(ptrdiff_t(i) + direct[size_t(2 * k + 1)]);
            return t * t;
          };
          v.P[p][i] = DifferenceFill(v, i, direct, d, pair);
        }
      }
    }
  }
}

// One refinement pass over the green of the pixels whose count is at least p.
void RefineGreen(const TKimmelView& v, const TKimmelCounts& counts, int32_t p, double s) {
  const int32_t w = v.W, h = v.H;
  const ptrdiff_t W = w;
  float* g = v.P[2];
  for (int32_t y = 3; y <= h - 4; ++y) {
    if (counts.Row[size_t(y)] < p) continue;
    for (int32_t x = IsGreen(1, y) ? 4 : 3; x <= w - 3; x += 2) {
      const ptrdiff_t i = ptrdiff_t(v.At(x, y));
      const int32_t count = counts.Pixel[size_t(i)];
      if (count < p) continue;
      const float* c = v.P[OwnPlane(x, y)];
      const int32_t right3 = std::min(x + 3, w - 1) - x;  // the row's last pixel at the right edge
      auto G = [&](int32_t dy, int32_t dx) { return double(g[i + dy * W + dx]); };
      double dh = 2 * std::abs(G(0, -1) - G(0, 1)) + std::abs(G(-1, -2) - G(-1, 0)) + std::abs(G(1, -2) - G(1, 0)) +
                  std::abs(G(-1, 0) - G(-1, 2)) + std::abs(G(1, 0) - G(1, 2)) + std::abs(G(-2, -1) - G(-2, 1)) +
                  std::abs(G(2, -1) - G(2, 1)) + std::abs(G(-1, -1) - G(-1, 1)) + std::abs(G(0, -2) - G(0, 0)) +
                  std::abs(G(0, 0) - G(0, 2)) + std::abs(G(1, -1) - G(1, 1)) + std::abs(G(0, -3) - G(0, -1)) +
                  std::abs(G(0, 1) - G(0, right3));
      double dv = 2 * std::abs(G(-1, 0) - G(1, 0)) + std::abs(G(-2, -1) - G(0, -1)) + std::abs(G(-2, 1) - G(0, 1)) +
                  std::abs(G(-1, -2) - G(1, -2)) + std::abs(G(-1, 2) - G(1, 2)) + std::abs(G(0, -1) - G(2, -1)) +
                  std::abs(G(0, 1) - G(2, 1)) + std::abs(G(-2, 0) - G(0, 0)) + std::abs(G(-1, -1) - G(1, -1)) +
                  std::abs(G(-1, 1) - G(1, 1)) + std::abs(G(0, 0) - G(2, 0)) + std::abs(G(-3, 0) - G(-1, 0)) +
                  std::abs(G(1, 0) - G(3, 0));
      const int32_t m = PowerOf(dh, dv, v.S3);
      if (count > 3 && VarianceWindowFits(v, x, y)) {
        const auto [vh, vv] = LineVariances(v, c, x, y, count);
        dh = vh + dh / count;
        dv = vv + dv / count;
      }
      auto gc = [&](ptrdiff_t d) { return double(g[i + d]) - c[i + d]; };
      const double gnew = c[i] + Mix(gc(-1) + gc(1), gc(-W) + gc(W), EdgeWeight(dh, m, 1), EdgeWeight(dv, m, 1));
      const double mean = -(gc(-1) + gc(1) + gc(-W) + gc(W)) / 4;
      const double green = g[i];
      if (green <= -s || (mean + s) / (green + s) < 0.7 + 0.2 * count) g[i] = float((green + gnew) / 2);
    }
  }
}

// Red (plane 1) or blue (plane 3) again in a refinement pass: at the opposite
// colour's sites from the diagonal neighbours, at green sites from the direct
// ones, weighted by green and by the plane's own opposite-neighbour difference.
void RefineColour(const TKimmelView& v, const TKimmelCounts& counts, int32_t p, int plane) {
  const ptrdiff_t W = v.W;
  const float* g = v.P[2];
  float* c = v.P[plane];
  const std::array<ptrdiff_t, 4> diagonal{-W - 1, W + 1, -W + 1, W - 1};
  const std::array<ptrdiff_t, 4> direct{-W, W, -1, 1};
  for (int32_t y = 2; y <= v.H - 3; ++y) {
    for (int32_t x = 2; x <= v.W - 3; ++x) {
      const size_t i = v.At(x, y);
      if (counts.Pixel[i] < p) continue;
      const bool green = IsGreen(x, y);
      if (!green && OwnPlane(x, y) == plane) continue;
      const auto& nb = green ? direct : diagonal;
      auto d = [&](ptrdiff_t at) { return double(c[at]) - g[at]; };
      auto pair = [&](int k) {
        const double t = double(c[ptrdiff_t(i) + nb[size_t(2 * k)]]) - c[ptrdiff_t(i) + nb[size_t(2 * k + 1)]];
        return t * t;
      };
      c[i] = DifferenceFill(v, i, nb, d, pair);
    }
  }
}

}  // namespace

TMosaicWorkerMethod KimmelMosaicMethod(const TMosaicStage& job) {
  const TImageSlot& dst = Store.Image[size_t(job.Destination)];
  const double s = 0.1 * (double(dst.MaxValue) - dst.MinValue);
  auto counts = std::make_shared<TKimmelCounts>();
  counts->Pixel.assign(dst.PixelCount(), 0);
  counts->Row.assign(size_t(dst.Height), 0);
  TMosaicWorkerMethod method;
  method.Stages = 4;
  method.Stage = [counts, s](TMosaicWorkerBlock& blk, int32_t stage) {
    const TKimmelView v(*blk.Job);
    switch (stage) {
      case 1: KimmelGreenRows(v, *counts, blk.Index, blk.Count); break;
      case 2: KimmelColourRows(v, blk.Index, blk.Count, false); break;
      case 3: KimmelColourRows(v, blk.Index, blk.Count, true); break;
      default: {
        if (blk.Index != 0) break;  // the refinement runs on the first worker alone
        int32_t passes = 0;
        for (int32_t y = 2; y <= v.H - 3; ++y) passes = std::max<int32_t>(passes, counts->Row[size_t(y)]);
        for (int32_t p = 1; p <= std::min(passes, 7); ++p) {
          RefineGreen(v, *counts, p, s);
          RefineColour(v, *counts, p, 1);
          RefineColour(v, *counts, p, 3);
        }
      }
    }
  };
  return method;
}

}  // namespace astrelon
