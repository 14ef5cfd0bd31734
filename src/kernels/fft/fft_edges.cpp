#include "kernels/fft/fft_edges.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "kernels/fft/fft_sizes.h"
#include "kernels/fft/spectrum_slots.h"
#include "kernels/regions/blank_interpolation.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// Ramp of m + a entries rising from about 0 to about 1 over the inner margin m
// and the half gap of a pad: sin((i + o)·(π/2)/(m + pad/2)), o = 0.5 for an even pad.
std::vector<double> RampTable(int32_t m, int32_t pad) {
  const int32_t a = (pad + 1) / 2;
  const double o = (pad % 2 == 0) ? 0.5 : 0.0;
  const double denom = double(m) + double(pad) / 2.0;
  std::vector<double> t(size_t(m + a));
  for (int32_t i = 0; i < m + a; ++i) t[size_t(i)] = std::sin((i + o) * (std::numbers::pi / 2) / denom);
  return t;
}

// The margins along one direction of a plane. A "line" runs across the margin
// (a column in the vertical pass, a row in the horizontal one) and holds `len`
// image values, then `pad` padding values; `lines` lines are treated, and the
// mean of line i is the box over lines i − m .. i + m (wrapped within the first
// `boxLines`) of each line's first m and last m values, taken from the current
// data as the pass goes.
struct TMarginPass {
  float* Base;
  int64_t Along;   // step between values of a line
  int64_t Across;  // step between lines
  int32_t Len, Pad, Lines, BoxLines, M;
  const std::vector<double>& T;

  float& At(int32_t line, int32_t i) const { return Base[line * Across + i * Along]; }

  double EdgeSum(int32_t line) const {
    double s = 0;
    for (int32_t j = 0; j < M; ++j) s += double(At(line, j)) + double(At(line, Len - 1 - j));
    return s;
  }

  void Run(std::vector<double>& mu, std::vector<float>& first, std::vector<float>& last) const {
    const int32_t a = (Pad + 1) / 2;
    mu.resize(size_t(Lines));
    first.resize(size_t(Lines));
    last.resize(size_t(Lines));
    std::vector<double> sums;
    double box = 0;
    const double weight = M > 0 ? 1.0 / (double(2 * M + 1) * double(2 * M)) : 0.5;
    auto wrap = [this](int64_t i) { return int32_t(((i % BoxLines) + BoxLines) % BoxLines); };
    if (M > 0) {
      sums.resize(size_t(BoxLines));
      for (int32_t i = 0; i < BoxLines; ++i) sums[size_t(i)] = EdgeSum(i);
      for (int32_t d = -M; d <= M; ++d) box += sums[size_t(wrap(d))];
    }
    for (int32_t line = 0; line < Lines; ++line) {
      const float top = At(line, 0), bottom = At(line, Len - 1);
      const double m = M > 0 ? box * weight : 0.5 * (double(top) + double(bottom));
      mu[size_t(line)] = m;
      first[size_t(line)] = top;
      last[size_t(line)] = bottom;
      if (M == 0) continue;
      for (int32_t j = 0; j < M; ++j) {
        const double t = T[size_t(a + j)];
        float& u = At(line, j);
        u = float(m + (double(u) - m) * t);
        float& v = At(line, Len - 1 - j);
        v = float(m + (double(v) - m) * t);
      }
      // Keep the box on the current data: this line changed, then the box moves on.
      if (line < BoxLines) {
        const double now = EdgeSum(line);
        box += now - sums[size_t(line)];
        sums[size_t(line)] = now;
      }
      box += sums[size_t(wrap(int64_t(line) + M + 1))] - sums[size_t(wrap(int64_t(line) - M))];
    }
  }

  // Padding value k (0 .. Pad − 1, i.e. position Len + k) of a line.
  double PadValue(int32_t k, double m, float top, float bottom) const {
    const int32_t a = (Pad + 1) / 2, b = Pad / 2;
    if (k + 1 <= a) return m + (double(bottom) - m) * T[size_t(a - (k + 1))];
    return m + (double(top) - m) * T[size_t(k - b)];
  }
};

}  // namespace

namespace {

void CheckPadSizes(size_t dstSize, int32_t w, int32_t h, int32_t N, int32_t M) {
  if (w < 1 || h < 1 || N < w || M < h || dstSize < size_t(int64_t(N) + 2) * size_t(M))
    throw std::invalid_argument("Interner Fehler: Die Randgrößen passen nicht zu den Bildebenen.");
}

}  // namespace

bool CopyIntoPadded(std::span<const float> src, int32_t w, int32_t h, std::span<float> dst, int32_t N, int32_t M,
                    int threads) {
  CheckPadSizes(dst.size(), w, h, N, M);
  if (src.size() < size_t(w) * size_t(h)) throw std::invalid_argument("Interner Fehler: Die Randgrößen passen nicht zu den Bildebenen.");
  const int64_t W = int64_t(N) + 2;
  std::atomic<bool> valid{true};
  ForEachBand(h, threads, [&](int64_t y0, int64_t y1) {
    bool ok = true;
    for (int64_t y = y0; y < y1; ++y) {
      const float* in = src.data() + y * w;
      float* out = dst.data() + y * W;
      for (int32_t x = 0; x < w; ++x) {
        out[x] = in[x];
        ok &= IsValidPixel(in[x]);
      }
    }
    if (!ok) valid = false;
  });
  return valid;
}

void PadMargins(std::span<float> dst, int32_t w, int32_t h, int32_t N, int32_t M, int32_t inner, int threads) {
  CheckPadSizes(dst.size(), w, h, N, M);
  const int64_t W = int64_t(N) + 2;
  const int32_t m = std::clamp(inner, 0, std::min(w / 2, h / 2));
  const int32_t padX = N - w, padY = M - h;
  float* d = dst.data();
  if (padX + padY + m > 0) {
    const std::vector<double> tX = RampTable(m, padX), tY = RampTable(m, padY);
    std::vector<double> mu;
    std::vector<float> first, last;
    // Vertical pass: each column of the image, its padding rows written row by row.
    const TMarginPass vertical{d, W, 1, h, padY, w, w, m, tY};
    vertical.Run(mu, first, last);
    for (int32_t k = 0; k < padY; ++k) {
      float* row = d + (int64_t(h) + k) * W;
      for (int32_t x = 0; x < w; ++x) row[x] = float(vertical.PadValue(k, mu[size_t(x)], first[size_t(x)], last[size_t(x)]));
    }
    // Horizontal pass: every row of the new height, the box wrapped within the image rows.
    const TMarginPass horizontal{d, 1, W, w, padX, M, h, m, tX};
    horizontal.Run(mu, first, last);
    ForEachBand(M, threads, [&](int64_t y0, int64_t y1) {
      for (int64_t y = y0; y < y1; ++y)
        for (int32_t k = 0; k < padX; ++k)
          d[y * W + w + k] = float(horizontal.PadValue(k, mu[size_t(y)], first[size_t(y)], last[size_t(y)]));
    });
  }
  for (int32_t y = 0; y < M; ++y) d[y * W + N] = d[y * W + N + 1] = 0.0f;
}

bool AdaptFftEdges(int slot, int32_t inner, int32_t outer, bool even) {
  if (!SlotInUse(slot)) return false;
  TImageSlot& im = Store.Image[slot];
  const int32_t w = im.Width, h = im.Height;
  if (w < 1 || h < 1) return false;
  const int32_t N = NextGoodFftSize(int32_t(std::min<int64_t>(int64_t(w) + std::max(outer, 0), INT32_MAX - 2)), even);
  const int32_t M = NextGoodFftSize(int32_t(std::min<int64_t>(int64_t(h) + std::max(outer, 0), INT32_MAX)), even);
  if (N < 1 || M < 1 || N > INT32_MAX - 2) return false;
  if (HasBlankPixels(slot)) InterpolateBlankPixels(slot, slot, true, false);
  const int threads = SpectrumThreads(M, int64_t(N) + 2);
  for (int p = 1; p <= im.PlaneCount; ++p) {
    TPlane padded = NewSpectrumPlane(uint64_t(N + 2) * uint64_t(M));
    CopyIntoPadded(im.Planes[p], w, h, padded, N, M, threads);
    PadMargins(padded, w, h, N, M, inner, threads);
    im.Planes[p].swap(padded);
  }
  im.FftWidth = w;
  im.FftHeight = h;
  im.Width = N + 2;
  im.Height = M;
  UpdateMinMax(slot);
  return true;
}

}  // namespace astrelon
