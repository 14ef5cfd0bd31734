#include "frequency/interference/interference_filter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "kernels/fft/fft_sizes.h"
#include "kernels/fft/fft_workspace.h"
#include "kernels/fft/line_spectra.h"
#include "kernels/fft/spectrum_slots.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr double Big = 1e18;
// Rows per partial sum of the mean spectrum: sums are made per block and added
// in block order, so the result does not depend on how blocks meet workers.
constexpr int64_t BlockRows = 64;

// Roughness of a spectrum: the mean ratio of the smaller to the larger of bins k
// and k + 2 (k = k0 .. nb − 3), over nb − k0 − 1.
template <class F>
double Roughness(int32_t k0, int32_t nb, F&& value) {
  double r = 0;
  for (int32_t k = k0; k <= nb - 3; ++k) {
    const double a = value(k), b = value(k + 2);
    const double hi = std::max(a, b);
    if (hi > 0) r += std::min(a, b) / hi;
  }
  return r / double(nb - k0 - 1);
}

// The running mean's start: m from bin max(k0 − 7, 4), then at least one step
// to the next bin, m = (m + value)/2, until bin k0 is reached.
template <class F>
double RunningMeanStart(int32_t k0, F&& value) {
  int32_t i = std::max(k0 - 7, 4);
  double m = value(i);
  do {
    ++i;
    m = (m + value(i)) * 0.5;
  } while (i < k0);
  return m;
}

// Gains of a plane's bins from its mean amplitude spectrum A: 5.0 marks a bin
// that stays; below it, the share of the running mean the bin is pulled to.
std::vector<float> InterferenceGains(const std::vector<float>& A, int32_t k0) {
  const int32_t nb = int32_t(A.size());
  std::vector<double> mn(size_t(nb), Big);
  for (int32_t k = k0; k < nb; ++k) {
    int32_t l, u;
    InterferenceWindow(k, k0, nb, l, u);
    double m = Big;
    for (int32_t j = l; j <= u; ++j) m = std::min(m, double(A[size_t(k + j)]));
    mn[size_t(k)] = m;
  }
  std::vector<float> G(size_t(nb), 0.0f);
  const double r1 = Roughness(k0, nb, [&](int32_t k) { return double(A[size_t(k)]); });
  const double q1 = std::max(0.95 * r1 * 0.95 * r1, 0.01);
  for (int32_t k = k0; k < nb; ++k)
    G[size_t(k)] = A[size_t(k)] * q1 <= mn[size_t(k)] ? 1.0f : float(mn[size_t(k)] / (q1 * A[size_t(k)]));
  const double r2 = Roughness(k0, nb, [&](int32_t k) { return double(A[size_t(k)]) * double(G[size_t(k)]); });
  const double q2 = std::max(0.96 * r2 * 0.96 * r2, 0.01);
  double m = RunningMeanStart(k0, [&](int32_t i) { return double(A[size_t(i)]); });
  for (int32_t k = k0; k < nb; ++k) {
    G[size_t(k)] = A[size_t(k)] * q2 <= mn[size_t(k)] ? 5.0f : float(mn[size_t(k)] / (q2 * m));
    m = 0.2 * (4.0 * m + A[size_t(k)]);
  }
  return G;
}

}  // namespace

TInterferenceBins InterferenceBins(int32_t width) {
  TInterferenceBins b;
  b.N = NextPowerOfTwo(width);
  b.Bins = b.N / 2 + 1;
  b.K0 = b.Bins / 12;
  return b;
}

void InterferenceWindow(int32_t k, int32_t k0, int32_t nb, int32_t& lower, int32_t& upper) {
  upper = (5 * k) / nb;
  if (k >= nb - upper) upper = nb - k - 1;
  lower = k > k0 + 6 ? -7 : k0 - k;
}

void RemoveInterference1D(int source, int destination) {
  if (!SlotInUse(source) || !SlotInUse(destination)) return;
  const TImageSlot& src = Store.Image[source];
  TImageSlot& dst = Store.Image[destination];
  const int32_t w = src.Width, h = src.Height;
  const size_t n = size_t(w) * size_t(h);
  if (w < 1 || h < 1 || dst.Width != w || dst.Height != h || dst.PlaneCount < src.PlaneCount) return;
  for (int p = 1; p <= src.PlaneCount; ++p)
    if (src.Planes[p].size() < n || dst.Planes[p].size() < n) return;
  if (w < 9) {
    if (source != destination)
      for (int p = 1; p <= src.PlaneCount; ++p) std::copy_n(src.Planes[p].begin(), n, dst.Planes[p].begin());
    return;
  }
  const TInterferenceBins bins = InterferenceBins(w);
  const int32_t N = bins.N, nb = bins.Bins, k0 = bins.K0;
  const auto plan = FftPlanFor(N);
  const std::vector<double> taper = TaperTable(N - w + 1);
  const int lanes = FftLaneCount(Sse2Enabled);
  const int64_t blocks = (h + BlockRows - 1) / BlockRows;
  const int threads = SpectrumThreads(blocks, int64_t(N) * BlockRows);
  // Each block of rows in groups of 2·lanes rows from the block's start.
  auto forEachGroup = [&](int64_t block, TLineSpectra& spectra, auto&& fn) {
    const int64_t end = std::min<int64_t>(h, (block + 1) * BlockRows);
    for (int64_t first = block * BlockRows; first < end; first += spectra.LinesPerGroup())
      fn(first, int(std::min<int64_t>(spectra.LinesPerGroup(), end - first)));
  };
  // Rows first .. first + count − 1 of a plane.
  auto rowsOf = [&](auto* plane, int64_t first, int count) {
    std::array<decltype(plane), 2 * MaxFftLanes> rows{};
    for (int q = 0; q < count; ++q) rows[size_t(q)] = plane + (first + q) * w;
    return rows;
  };
  for (int p = 1; p <= src.PlaneCount; ++p) {
    const float* in = src.Planes[p].data();
    // 1. The mean amplitude spectrum of all rows.
    std::vector<double> partial(size_t(blocks) * size_t(nb), 0.0);
    ForEachBand(blocks, threads, [&](int64_t b0, int64_t b1) {
      TLineSpectra spectra(*plan, lanes, w, taper);
      for (int64_t block = b0; block < b1; ++block) {
        double* sum = partial.data() + size_t(block) * size_t(nb);
        forEachGroup(block, spectra, [&](int64_t first, int count) {
          spectra.Forward(rowsOf(in, first, count).data(), count, 1);
          for (int q = 0; q < count; ++q) {
            const double* a = spectra.Amplitudes(q);
            for (int32_t k = k0; k < nb; ++k) sum[k] += a[k];
          }
        });
      }
    });
    std::vector<float> A(size_t(nb), 0.0f);
    for (int32_t k = k0; k < nb; ++k) {
      double s = 0;
      for (int64_t block = 0; block < blocks; ++block) s += partial[size_t(block) * size_t(nb) + size_t(k)];
      A[size_t(k)] = float(s / h);
    }
    // 2.–6. Gains.
    const std::vector<float> G = InterferenceGains(A, k0);
    // 7. Every row's marked bins pulled to G times the running mean of its own amplitudes.
    float* out = dst.Planes[p].data();
    ForEachBand(blocks, threads, [&](int64_t b0, int64_t b1) {
      TLineSpectra spectra(*plan, lanes, w, taper);
      for (int64_t block = b0; block < b1; ++block)
        forEachGroup(block, spectra, [&](int64_t first, int count) {
          spectra.Forward(rowsOf(in, first, count).data(), count, 1);
          for (int q = 0; q < count; ++q) {
            double* re = spectra.Re(q);
            double* im = spectra.Im(q);
            const double* amplitude = spectra.Amplitudes(q);
            double m = RunningMeanStart(k0, [&](int32_t i) { return amplitude[i]; });
            for (int32_t k = k0; k < nb; ++k) {
              const double a = amplitude[k];
              if (G[size_t(k)] < 1.5f && a > 0) {
                const double f = G[size_t(k)] * m / a;
                re[k] *= f;
                im[k] *= f;
              }
              m = 0.2 * (4.0 * m + a);
            }
          }
          spectra.Inverse(rowsOf(out, first, count).data(), count, 1);
        });
    });
  }
  UpdateMinMax(destination);
}

}  // namespace astrelon
