#include "kernels/fft/spectrum_rows.h"

#include <vector>

#include "kernels/fft/fft_lines.h"
#include "kernels/fft/spectrum_slots.h"
#include "platform/parallel_bands.h"

namespace astrelon {

namespace {

// Calls fn(lines, first row of each lane's pair …) for the groups of 2·lanes rows, in bands.
template <class F>
void ForEachRowGroup(int32_t rows, const TFftPlan& plan, int lanes, F&& fn) {
  const int64_t pairs = (int64_t(rows) + 1) / 2;
  const int64_t groups = (pairs + lanes - 1) / lanes;
  ForEachBand(groups, SpectrumThreads(groups, int64_t(plan.Length) * 2 * lanes), [&](int64_t g0, int64_t g1) {
    TRealLinePairs lines(plan, lanes);
    // Room for the two lines of every lane (lane l's at l·N in a and in b).
    std::vector<double> a(size_t(lanes) * size_t(plan.Length)), b(a.size());
    for (int64_t g = g0; g < g1; ++g) fn(lines, 2 * g * lanes, a, b);
  });
}

}  // namespace

void ForwardRealRows(float* out, int64_t W, int32_t rows, double scale, const TFftPlan& plan, int lanes,
                     const TRowFill& fill) {
  const int32_t half = plan.Length / 2 + 1;
  ForEachRowGroup(rows, plan, lanes, [&](TRealLinePairs& lines, int64_t first, std::vector<double>& a,
                                         std::vector<double>& b) {
    if (fill) {
      TRealLinePairs::TLines<double> la{}, lb{};
      for (int l = 0; l < lanes; ++l) {
        const int64_t r = first + 2 * l;
        const size_t at = size_t(l) * size_t(plan.Length);
        if (r < rows) fill(r, std::span(a).subspan(at, size_t(plan.Length))), la[size_t(l)] = a.data() + at;
        if (r + 1 < rows) fill(r + 1, std::span(b).subspan(at, size_t(plan.Length))), lb[size_t(l)] = b.data() + at;
      }
      lines.LoadPairs(la, lb);
    } else {
      TRealLinePairs::TLines<float> la{}, lb{};
      for (int l = 0; l < lanes; ++l) {
        const int64_t r = first + 2 * l;
        if (r < rows) la[size_t(l)] = out + r * W;
        if (r + 1 < rows) lb[size_t(l)] = out + (r + 1) * W;
      }
      lines.LoadPairs(la, lb);
    }
    lines.Transform();
    for (int l = 0; l < lanes; ++l) {
      const int64_t r = first + 2 * l;
      if (r >= rows) continue;
      float* ra = out + r * W;
      if (r + 1 >= rows) {
        for (int32_t k = 0; k < half; ++k) {
          ra[k] = float(lines.Re(l, k) * scale);
          ra[half + k] = float(lines.Im(l, k) * scale);
        }
        continue;
      }
      float* rb = ra + W;
      for (int32_t k = 0; k < half; ++k) {
        double ar, ai, br, bi;
        lines.SplitBin(l, k, ar, ai, br, bi);
        ra[k] = float(ar * scale);
        ra[half + k] = float(ai * scale);
        rb[k] = float(br * scale);
        rb[half + k] = float(bi * scale);
      }
    }
  });
}

void InverseRealRows(float* plane, int64_t W, int32_t rows, int32_t outCols, int32_t shift, bool conjugate,
                     const TFftPlan& plan, int lanes) {
  const int32_t N = plan.Length, half = N / 2 + 1;
  ForEachRowGroup(rows, plan, lanes, [&](TRealLinePairs& lines, int64_t first, std::vector<double>&,
                                         std::vector<double>&) {
    TRealLinePairs::TLines<float> aRe{}, aIm{}, bRe{}, bIm{};
    for (int l = 0; l < lanes; ++l) {
      const int64_t r = first + 2 * l;
      if (r < rows) aRe[size_t(l)] = plane + r * W, aIm[size_t(l)] = plane + r * W + half;
      if (r + 1 < rows) bRe[size_t(l)] = plane + (r + 1) * W, bIm[size_t(l)] = plane + (r + 1) * W + half;
    }
    lines.LoadHermitianPairs(aRe, aIm, bRe, bIm, conjugate);
    lines.Transform();
    for (int l = 0; l < lanes; ++l) {
      const int64_t r = first + 2 * l;
      if (r >= rows) continue;
      float* ra = plane + r * W;
      int64_t at = shift;
      for (int32_t j = 0; j < outCols; ++j, ++at) {
        if (at >= N) at -= N;
        ra[j] = float(lines.Re(l, int32_t(at)));
      }
      if (r + 1 < rows) {
        float* rb = ra + W;
        at = shift;
        for (int32_t j = 0; j < outCols; ++j, ++at) {
          if (at >= N) at -= N;
          rb[j] = float(lines.Im(l, int32_t(at)));
        }
      }
    }
  });
}

}  // namespace astrelon
