#include "pixelops/mosaic/mosaic_vng.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/float_range.h"
#include "kernels/mosaic/mosaic_kernels.h"
#include "kernels/mosaic/site_lanes.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

// The vector helpers are always inlined. The AVX code gives them vectors only
// by reference and takes none back by value: clang checks the convention of a
// call before it inlines it and refuses a 32-byte vector passed to or from a
// helper without the AVX target.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using simd::TVec4d;
using simd::TVec4f;

struct TOffset {
  int32_t Dy, Dx;
};
// A gradient term: |v(A) - v(B)| times Weight.
struct TTerm {
  TOffset A, B;
  float Weight;
};
using TGradient = std::array<TTerm, 6>;

constexpr TOffset Turn(TOffset o) { return {o.Dx, -o.Dy}; }  // 90 degrees clockwise
constexpr TGradient Turn(const TGradient& g) {
  TGradient t{};
  for (size_t i = 0; i < g.size(); ++i) t[i] = {Turn(g[i].A), Turn(g[i].B), g[i].Weight};
  return t;
}

constexpr TGradient North{{{{-2, 0}, {0, 0}, 1.0f},
                           {{-1, 0}, {1, 0}, 1.0f},
                           {{-1, -1}, {1, -1}, 0.5f},
                           {{-1, 1}, {1, 1}, 0.5f},
                           {{-2, -1}, {0, -1}, 0.5f},
                           {{-2, 1}, {0, 1}, 0.5f}}};
constexpr TGradient NorthEast{{{{-2, 2}, {0, 0}, 1.0f},
                               {{-1, 1}, {1, -1}, 1.0f},
                               {{-2, 1}, {-1, 0}, 0.5f},
                               {{-1, 0}, {0, -1}, 0.5f},
                               {{0, 1}, {1, 0}, 0.5f},
                               {{-1, 2}, {0, 1}, 0.5f}}};

// A direction: its gradient, the same-colour value two steps away and the greens
// whose mean is its green (one for N, E, S, W; four for the diagonals).
struct TDirection {
  TGradient Gradient;
  TOffset Colour;
  std::array<TOffset, 4> Greens;
  int32_t GreenCount;
};

constexpr TDirection Straight(const TGradient& g, TOffset step) {
  return {g, {2 * step.Dy, 2 * step.Dx}, {{step, step, step, step}}, 1};
}
constexpr TDirection Diagonal(const TGradient& g, TOffset step) {
  // North-east (-1, +1): (0,+1), (-1,+2), (-1,0), (-2,+1); the others turned alike.
  return {g,
          {2 * step.Dy, 2 * step.Dx},
          {{{0, step.Dx}, {step.Dy, 2 * step.Dx}, {step.Dy, 0}, {2 * step.Dy, step.Dx}}},
          4};
}

// N, E, S, W, NE, SE, NW, SW.
constexpr std::array<TDirection, 8> Directions{
    Straight(North, {-1, 0}),
    Straight(Turn(North), {0, 1}),
    Straight(Turn(Turn(North)), {1, 0}),
    Straight(Turn(Turn(Turn(North))), {0, -1}),
    Diagonal(NorthEast, {-1, 1}),
    Diagonal(Turn(NorthEast), {1, 1}),
    Diagonal(Turn(Turn(Turn(NorthEast))), {-1, -1}),
    Diagonal(Turn(Turn(NorthEast)), {1, -1}),
};

// The 5 x 5 neighbourhood of a pixel, [dy + 2][dx + 2]; of D = double for one
// site, of D = four doubles for four sites side by side.
template <class D>
using TWindow = std::array<std::array<D, 5>, 5>;

using simd::AbsLanes;

template <class D>
[[gnu::always_inline]] inline const D& Tap(const TWindow<D>& v, TOffset o) {
  return v[size_t(o.Dy + 2)][size_t(o.Dx + 2)];
}

// Green at red or blue sites from their neighbourhoods (bias b), before it is
// held in the float range. The weight times two differences passes the float
// range for mosaic values above about 1e13, so the sums are formed in double.
// Lanes add the same terms in the same order as a single site.
template <class D>
[[gnu::always_inline]] inline void VngGreenLanes(const TWindow<D>& v, double noise, double b, D& result) {
  std::array<D, 8> g{};
#pragma GCC unroll 8
  for (size_t d = 0; d < 8; ++d) {
    const TGradient& t = Directions[d].Gradient;
    std::array<D, 6> term;
#pragma GCC unroll 6
    for (size_t i = 0; i < 6; ++i) term[i] = AbsLanes(Tap(v, t[i].A) - Tap(v, t[i].B));
    g[d] = term[0] + term[1] + 0.5 * (term[2] + term[3] + term[4] + term[5]);
  }
  D lo = g[0], hi = g[0];
#pragma GCC unroll 8
  for (size_t d = 1; d < 8; ++d) {
    lo = g[d] < lo ? g[d] : lo;
    hi = g[d] > hi ? g[d] : hi;
  }
  const D threshold = lo + 0.5 * hi + noise;
  const D c = v[2][2];
  const D zero = simd::Splat<D>(0.0);
  D numerator = zero, weights = zero;
#pragma GCC unroll 8
  for (size_t d = 0; d < 8; ++d) {
    const TDirection& dir = Directions[d];
    const D w = threshold - g[d];
    D green = zero;
#pragma GCC unroll 4
    for (int32_t i = 0; i < dir.GreenCount; ++i) green += Tap(v, dir.Greens[size_t(i)]);
    // The mean: dividing by 1 or 4 is the same as multiplying by 1 or 0.25.
    green *= 1.0 / double(dir.GreenCount);
    const D q = (c + Tap(v, dir.Colour)) * 0.5 - b;
    const auto taken = (g[d] <= threshold) & (q > 0.0);
    numerator += taken ? w * (green - b) * (c - b) / q : zero;
    weights += taken ? w : zero;
  }
  result = numerator / (weights < 0.1 ? simd::Splat<D>(0.1) : weights) + b;
}

float VngGreen(const TWindow<float>& v, float noise, float b) {
  TWindow<double> d;
  for (size_t r = 0; r < 5; ++r)
    for (size_t c = 0; c < 5; ++c) d[r][c] = v[r][c];
  double g;
  VngGreenLanes(d, double(noise), double(b), g);
  return ToFloatRange(g);
}

#if ASTRELON_HAVE_AVX2
// Green at the sites x, x + 2, .. x + 6 of row y of plane p (w values a row);
// reads up to column x + 9.
ASTRELON_AVX2 void VngGreenLanes4(const float* p, size_t w, int32_t x, int32_t y, double noise, double b, float* out) {
  TWindow<TVec4d> v;
  for (int32_t dy = -2; dy <= 2; ++dy)
    for (int32_t dx = -2; dx <= 2; ++dx) {
      const float* at = p + size_t(y + dy) * w + size_t(x + dx);
      const TVec4f a = simd::LoadLanes<TVec4f>(at), c = simd::LoadLanes<TVec4f>(at + 4);
      v[size_t(dy + 2)][size_t(dx + 2)] = __builtin_convertvector(__builtin_shufflevector(a, c, 0, 2, 4, 6), TVec4d);
    }
  TVec4d g;
  VngGreenLanes(v, noise, b, g);
  for (int l = 0; l < 4; ++l) out[2 * l] = ToFloatRange(g[l]);
}

#endif

// The rows of stage 1 the worker takes: green at the red and blue sites.
void VngGreenRows(const TMosaicWorkerBlock& blk, float b, TRowDealer& rows) {
  const TMosaicStage& job = *blk.Job;
  TImageSlot& dst = Store.Image[size_t(job.Destination)];
  const int32_t w = dst.Width, h = dst.Height;
  const float* p1 = dst.Planes[1].data();
  float* g = dst.Planes[2].data();
  const float noise = float(job.Noise);
  const auto value = [&](int32_t y, int32_t x) { return p1[size_t(y) * size_t(w) + size_t(x)]; };
  const bool lanes = !job.SizeRatio && UseAvx2(true);
  TWindow<float> v{};
  rows.Take([&](int32_t y) {
    int32_t x = MosaicCellColor(MosaicPattern, 0, y) == McGreen ? 3 : 2;
#if ASTRELON_HAVE_AVX2
    if (lanes)
      for (; x + 6 <= w - 4; x += 8)
        VngGreenLanes4(p1, size_t(w), x, y, double(noise), double(b), g + size_t(y) * size_t(w) + size_t(x));
#endif
    for (; x <= w - 3; x += 2) {
      for (int32_t dy = -2; dy <= 2; ++dy)
        for (int32_t dx = -2; dx <= 2; ++dx) {
          int32_t yy = y + dy, xx = x + dx;
          const int32_t c = MosaicCellColor(MosaicPattern, xx, yy);
          if (job.SizeRatio && c != McGreen) {
            // Red and blue neighbours move by their size-ratio shift, rounded to an even one.
            const bool red = c == McRed;
            yy += 2 * ((red ? job.RedRows : job.BlueRows)[size_t(yy)] / 2);
            xx += 2 * ((red ? job.RedColumns : job.BlueColumns)[size_t(x + dx)] / 2);
          }
          v[size_t(dy + 2)][size_t(dx + 2)] = value(yy, xx);
        }
      g[size_t(y) * size_t(w) + size_t(x)] = VngGreen(v, noise, b);
    }
  });
}

// The rows of stage 2 with size ratios the worker takes: every pixel's red and
// blue from the colour differences of the 21 pixels around it, each site's green
// taken at its shifted place.
void VngShiftedRedBlueRows(const TMosaicWorkerBlock& blk, TRowDealer& rows) {
  const TMosaicStage& job = *blk.Job;
  const TImageSlot& src = Store.Image[size_t(job.Source)];
  TImageSlot& dst = Store.Image[size_t(job.Destination)];
  const int32_t w = dst.Width, h = dst.Height;
  const float* m = src.Planes[1].data();
  const float* g = dst.Planes[2].data();
  const float eps = float(4 * job.Noise);
  const auto green = [&](int32_t y, int32_t x) {
    return g[size_t(std::clamp(y, 0, h - 1)) * size_t(w) + size_t(std::clamp(x, 0, w - 1))];
  };
  rows.Take([&](int32_t y) {
    for (int32_t x = 0; x < w; ++x) {
      const float gr = green(y - job.RedRows[size_t(y)], x - job.RedColumns[size_t(x)]);
      const float gb = green(y - job.BlueRows[size_t(y)], x - job.BlueColumns[size_t(x)]);
      float rs = 0, rw = 0, bs = 0, bw = 0;
      for (int32_t dy = -2; dy <= 2; ++dy) {
        const int32_t reach = dy == -2 || dy == 2 ? 1 : 2;
        const int32_t yy = y + dy;
        if (yy < 0 || yy >= h) continue;
        for (int32_t xx = std::max(0, x - reach); xx <= std::min(w - 1, x + reach); ++xx) {
          const int32_t c = MosaicCellColor(MosaicPattern, xx, yy);
          if (c != McRed && c != McBlue) continue;
          const bool red = c == McRed;
          const float gs = red ? green(yy - job.RedRows[size_t(yy)], xx - job.RedColumns[size_t(xx)])
                               : green(yy - job.BlueRows[size_t(yy)], xx - job.BlueColumns[size_t(xx)]);
          const float den = std::abs((red ? gr : gb) - gs) + eps;
          const float wt = 1.0f / (den * den);
          const float d = m[size_t(yy) * size_t(w) + size_t(xx)] - gs;
          (red ? rs : bs) += wt * d;
          (red ? rw : bw) += wt;
        }
      }
      dst.Planes[1][size_t(y) * size_t(w) + size_t(x)] = rs / std::max(rw, 1e-20f) + gr;
      dst.Planes[3][size_t(y) * size_t(w) + size_t(x)] = bs / std::max(bw, 1e-20f) + gb;
    }
  });
}

}  // namespace

TMosaicWorkerMethod VngMosaicMethod(const TMosaicStage& job) {
  const TImageSlot& dst = Store.Image[size_t(job.Destination)];
  const float s = std::max(0.1f * (dst.MaxValue - dst.MinValue), 1.0f);
  const float b = dst.MinValue - 3 * s;
  // Stage 1 rows 2 .. height - 3; stage 2 the same, every row with size ratios.
  struct TRows {
    TRows(int32_t h, bool shifted) : Green(2, h - 3), Fill(shifted ? 0 : 2, shifted ? h - 1 : h - 3) {}
    TRowDealer Green, Fill;
  };
  auto rows = std::make_shared<TRows>(dst.Height, job.SizeRatio);
  TMosaicWorkerMethod method;
  method.Stages = 2;
  method.Stage = [b, rows](TMosaicWorkerBlock& blk, int32_t stage) {
    const TMosaicStage& job = *blk.Job;
    if (stage == 1) {
      VngGreenRows(blk, b, rows->Green);
    } else if (job.SizeRatio) {
      VngShiftedRedBlueRows(blk, rows->Fill);
    } else {
      TColourFillRow fill;
      if (ColourFillRowOf(job.Source, job.Destination, float(4 * job.Noise), 0.0f, false, fill))
        rows->Fill.Take([&](int32_t y) { FillRedBlueRow(fill, MosaicPattern, y); });
    }
  };
  // Nothing reads the result's minimum and maximum between the two stages (the
  // second stage takes neither, and the conversion takes them anew at its end),
  // so they are not scanned in between.
  return method;
}

}  // namespace astrelon
