#include "frequency/filter/radial_spectrum.h"

#include <algorithm>
#include <cmath>

#include "common/float_range.h"
#include "kernels/fft/spectrum_slots.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Rows per partial sum: sums are made per block and added in block order, so
// the mean does not depend on how blocks meet workers.
constexpr int64_t BlockRows = 64;

// The squared horizontal radius of each column x < W/2.
std::vector<double> ColumnRadii(int32_t W) {
  const double half = W / 2;
  std::vector<double> dx2(size_t(W / 2));
  for (int32_t x = 0; x < W / 2; ++x) dx2[size_t(x)] = (x / half) * (x / half);
  return dx2;
}

double RowRadius2(int32_t y, int32_t H) {
  const double half = H / 2;
  const double d = (y - H / 2) / half;
  return d * d;
}

int32_t BinOfRadius2(double r2, int32_t K) { return int32_t(std::nearbyint(std::sqrt(r2) * K)); }

// A slot of at least 2 × 2 values whose listed planes hold all of them.
bool IsSpectrum(int slot, const TPlaneList& planes) {
  if (!SlotInUse(slot)) return false;
  const TImageSlot& im = Store.Image[slot];
  if (im.Width < 2 || im.Height < 2) return false;
  for (int p : planes.Planes())
    if (p < 1 || p > im.PlaneCount || im.Planes[p].size() < im.PixelCount()) return false;
  return true;
}

}  // namespace

int32_t RadialBinCount(int32_t W, int32_t H) { return std::max(W, H) / 2; }

int32_t RadialBin(int32_t x, int32_t y, int32_t W, int32_t H, int32_t K) {
  const double dx = x / double(W / 2);
  return BinOfRadius2(dx * dx + RowRadius2(y, H), K);
}

std::vector<double> RadialMeanSpectrum(int spectrum, const TPlaneList& planes) {
  if (!IsSpectrum(spectrum, planes)) return {};
  const TImageSlot& sp = Store.Image[spectrum];
  const int32_t W = sp.Width, H = sp.Height, K = RadialBinCount(W, H), half = W / 2;
  const std::vector<double> dx2 = ColumnRadii(W);
  const int64_t rows = int64_t(planes.Count) * H;
  const int64_t blocks = (rows + BlockRows - 1) / BlockRows;
  std::vector<double> sums(size_t(blocks) * size_t(K), 0.0);
  std::vector<int64_t> counts(sums.size(), 0);
  ForEachBand(blocks, SpectrumThreads(blocks, int64_t(W) * BlockRows), [&](int64_t b0, int64_t b1) {
    for (int64_t b = b0; b < b1; ++b) {
      double* sum = sums.data() + size_t(b) * size_t(K);
      int64_t* count = counts.data() + size_t(b) * size_t(K);
      for (int64_t r = b * BlockRows; r < std::min(rows, (b + 1) * BlockRows); ++r) {
        const int p = planes.Plane[size_t(r / H)];
        const int32_t y = int32_t(r % H);
        const float* row = sp.Planes[p].data() + int64_t(y) * W;
        const double dy2 = RowRadius2(y, H);
        for (int32_t x = 0; x < half; ++x) {
          const int32_t i = BinOfRadius2(dx2[size_t(x)] + dy2, K);
          if (i >= K) continue;
          const double re = row[x], im = row[half + x];
          sum[i] += std::sqrt(re * re + im * im);
          ++count[i];
        }
      }
    }
  });
  std::vector<double> S(size_t(K), 0.0);
  std::vector<int64_t> n(size_t(K), 0);
  for (int64_t b = 0; b < blocks; ++b)
    for (int32_t i = 0; i < K; ++i) {
      S[size_t(i)] += sums[size_t(b) * size_t(K) + size_t(i)];
      n[size_t(i)] += counts[size_t(b) * size_t(K) + size_t(i)];
    }
  for (int32_t i = 0; i < K; ++i) S[size_t(i)] = n[size_t(i)] > 0 ? S[size_t(i)] / double(n[size_t(i)]) : 0.0;
  return S;
}

void ApplyRadialResponse(int spectrum, const TPlaneList& planes, const TRadialResponse& response) {
  if (!IsSpectrum(spectrum, planes) || response.Gain.empty()) return;
  TImageSlot& sp = Store.Image[spectrum];
  const int32_t W = sp.Width, H = sp.Height, K = RadialBinCount(W, H), half = W / 2;
  const int32_t last = int32_t(response.Gain.size()) - 1;
  const bool set = response.SetValue.size() == response.Gain.size();
  const std::vector<double> dx2 = ColumnRadii(W);
  const int64_t rows = int64_t(planes.Count) * H;
  ForEachBand(rows, SpectrumThreads(rows, W), [&](int64_t r0, int64_t r1) {
    for (int64_t r = r0; r < r1; ++r) {
      const int p = planes.Plane[size_t(r / H)];
      const int32_t y = int32_t(r % H);
      float* row = sp.Planes[p].data() + int64_t(y) * W;
      const double dy2 = RowRadius2(y, H);
      for (int32_t x = 0; x < half; ++x) {
        const size_t i = size_t(std::min(BinOfRadius2(dx2[size_t(x)] + dy2, K), last));
        if (set && !std::isnan(response.SetValue[i])) {
          row[x] = ToFloatRange(response.SetValue[i]);
          row[half + x] = 0.0f;
        } else {
          const double gain = LimitFactor(response.Gain[i]);
          row[x] = float(row[x] * gain);
          row[half + x] = float(row[half + x] * gain);
        }
      }
    }
  });
}

}  // namespace astrelon
