#include "frequency/filter/row_filter_1d.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/float_range.h"
#include "kernels/fft/fft_sizes.h"
#include "kernels/fft/fft_workspace.h"
#include "kernels/fft/line_spectra.h"
#include "kernels/fft/spectrum_slots.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_store.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

// Lines per partial sum of the mean spectrum: sums are made per block and added
// in block order, so the result does not depend on how blocks meet workers.
constexpr int64_t BlockLines = 64;

using TLinePointers = std::array<const float*, 2 * MaxFftLanes>;

// Whether the listed planes of a slot hold w × h pixels each.
bool PlanesFit(int slot, const TPlaneList& planes, int32_t w, int32_t h) {
  if (!SlotInUse(slot) || planes.Count < 1) return false;
  const TImageSlot& im = Store.Image[slot];
  if (im.Width != w || im.Height != h || w < 1 || h < 1) return false;
  for (int p : planes.Planes())
    if (p < 1 || p > im.PlaneCount || im.Planes[p].size() < im.PixelCount()) return false;
  return true;
}

// The lines of an image of n-sample lines: transform plan, lanes and taper.
struct TLineSetup {
  std::shared_ptr<const TFftPlan> Plan;
  int Lanes = 1;
  std::vector<double> Taper;
  explicit TLineSetup(int32_t n) : Plan(FftPlanFor(NextPowerOfTwo(n))), Lanes(FftLaneCount(Sse2Enabled)) {
    if (!Plan) throw std::bad_alloc();
    Taper = TaperTable(Plan->Length - n + 1);
  }
};

// Calls fn(spectra, first, count) for the groups of lines 0 .. lines − 1, in bands.
template <class F>
void ForEachLineGroup(int64_t lines, const TLineSetup& setup, int32_t n, F&& fn) {
  const int per = 2 * setup.Lanes;
  const int64_t groups = (lines + per - 1) / per;
  ForEachBand(groups, SpectrumThreads(groups, int64_t(setup.Plan->Length) * per), [&](int64_t g0, int64_t g1) {
    TLineSpectra spectra(*setup.Plan, setup.Lanes, n, setup.Taper);
    for (int64_t g = g0; g < g1; ++g) fn(spectra, g * per, int(std::min<int64_t>(per, lines - g * per)));
  });
}

// The curves' response on the bins of line q; bin k takes curve bin k·N/lineN.
void Respond(TLineSpectra& spectra, int q, const TFilterCurves& c, bool additive, int32_t N) {
  double* re = spectra.Re(q);
  double* im = spectra.Im(q);
  const int32_t bins = spectra.Bins(), lineN = spectra.Length(), last = c.K() - 1;
  for (int32_t k = 0; k < bins; ++k) {
    const size_t j = size_t(std::min<int64_t>(int64_t(k) * N / lineN, last));
    const double S = c.S[j], C = c.C[j];
    if (additive) {
      const double a = std::sqrt(re[k] * re[k] + im[k] * im[k]);
      if (a > 0) {
        const double f = LimitFactor((a + C - S) / a);
        re[k] *= f;
        im[k] *= f;
      }
    } else if (S > 0) {
      const double f = LimitFactor(C / S);
      re[k] *= f;
      im[k] *= f;
    } else {
      re[k] = C;
      im[k] = 0.0;
    }
  }
}

// Each pixel's excess over the last value at or below the clip level (0 before
// the first); 0 for the others.
void RowExcess(const float* row, int32_t n, float clip, float* excess) {
  float hold = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    const float v = row[i];
    excess[i] = 0.0f;
    if (!IsValidPixel(v)) continue;
    if (v > clip)
      excess[i] = v - hold;
    else
      hold = v;
  }
}

}  // namespace

int32_t RowBinCount(int32_t width) { return NextPowerOfTwo(width) / 2 + 1; }

float RowClipLevel(const float* row, int32_t n, bool omitBright) {
  if (!omitBright) return NoLineClip;
  std::vector<float> values;
  values.reserve(size_t(std::max(n, 0)));
  for (int32_t i = 0; i < n; ++i)
    if (IsValidPixel(row[i])) values.push_back(row[i]);
  if (values.empty()) return NoLineClip;
  return PercentileSelect(values, 0.9);
}

std::vector<double> MeanRowSpectrum(int slot, const TPlaneList& planes, bool omitBright) {
  if (!SlotInUse(slot)) return {};
  const TImageSlot& im = Store.Image[slot];
  const int32_t w = im.Width, h = im.Height;
  if (!PlanesFit(slot, planes, w, h)) return {};
  const TLineSetup setup(w);
  const int32_t K = RowBinCount(w);
  const int64_t lines = int64_t(planes.Count) * h;
  const int64_t blocks = (lines + BlockLines - 1) / BlockLines;
  std::vector<double> partial(size_t(blocks) * size_t(K), 0.0);
  ForEachBand(blocks, SpectrumThreads(blocks, int64_t(setup.Plan->Length) * BlockLines), [&](int64_t b0, int64_t b1) {
    TLineSpectra spectra(*setup.Plan, setup.Lanes, w, setup.Taper);
    const int per = spectra.LinesPerGroup();
    for (int64_t b = b0; b < b1; ++b) {
      double* sum = partial.data() + size_t(b) * size_t(K);
      const int64_t end = std::min(lines, (b + 1) * BlockLines);
      for (int64_t first = b * BlockLines; first < end; first += per) {
        const int count = int(std::min<int64_t>(per, end - first));
        TLinePointers row{};
        std::array<float, 2 * MaxFftLanes> clip{};
        for (int q = 0; q < count; ++q) {
          const int64_t r = first + q;
          row[size_t(q)] = im.Planes[planes.Plane[size_t(r / h)]].data() + (r % h) * w;
          clip[size_t(q)] = RowClipLevel(row[size_t(q)], w, omitBright);
        }
        spectra.Forward(row.data(), count, 1, clip.data());
        for (int q = 0; q < count; ++q) {
          const double* a = spectra.Amplitudes(q);
          for (int32_t k = 0; k < K; ++k) sum[k] += a[k];
        }
      }
    }
  });
  std::vector<double> S(size_t(K), 0.0);
  for (int64_t b = 0; b < blocks; ++b)
    for (int32_t k = 0; k < K; ++k) S[size_t(k)] += partial[size_t(b) * size_t(K) + size_t(k)];
  for (double& s : S) s /= h;
  return S;
}

void FilterRows1D(int source, int result, const TPlaneList& planes, const TFilterCurves& curves,
                  const TRowFilterOptions& options) {
  if (!SlotInUse(source)) return;
  const int32_t w = Store.Image[source].Width, h = Store.Image[source].Height;
  if (!PlanesFit(source, planes, w, h) || !PlanesFit(result, planes, w, h)) return;
  if (curves.K() != RowBinCount(w) || curves.C.size() != curves.S.size()) return;
  const int32_t N = NextPowerOfTwo(w);
  const TImageSlot& src = Store.Image[source];
  TImageSlot& dst = Store.Image[result];
  const TLineSetup rows(w);
  for (int p : planes.Planes()) {
    const float* in = src.Planes[p].data();
    float* out = dst.Planes[p].data();
    ForEachLineGroup(h, rows, w, [&](TLineSpectra& spectra, int64_t first, int count) {
      TLinePointers line{};
      std::array<float, 2 * MaxFftLanes> clip{};
      std::vector<float> excess(options.OmitBright ? size_t(count) * size_t(w) : 0);
      for (int q = 0; q < count; ++q) {
        line[size_t(q)] = in + (first + q) * w;
        clip[size_t(q)] = RowClipLevel(line[size_t(q)], w, options.OmitBright);
        if (options.OmitBright) RowExcess(line[size_t(q)], w, clip[size_t(q)], excess.data() + size_t(q) * size_t(w));
      }
      spectra.Forward(line.data(), count, 1, clip.data());
      for (int q = 0; q < count; ++q) Respond(spectra, q, curves, options.Additive, N);
      spectra.InverseTransform(count);
      for (int q = 0; q < count; ++q) {
        const float* s = line[size_t(q)];
        float* o = out + (first + q) * w;
        const float* e = options.OmitBright ? excess.data() + size_t(q) * size_t(w) : nullptr;
        for (int32_t i = 0; i < w; ++i)
          o[i] = IsValidPixel(s[i]) ? float(spectra.Value(q, i) + (e ? e[i] : 0.0f)) : BlankPixel;
      }
    });
  }
  if (options.Columns) {
    const TLineSetup columns(h);
    for (int p : planes.Planes()) {
      float* out = dst.Planes[p].data();
      ForEachLineGroup(w, columns, h, [&](TLineSpectra& spectra, int64_t first, int count) {
        TLinePointers line{};
        for (int q = 0; q < count; ++q) line[size_t(q)] = out + first + q;
        spectra.Forward(line.data(), count, w);
        for (int q = 0; q < count; ++q) Respond(spectra, q, curves, options.Additive, N);
        spectra.InverseTransform(count);
        for (int q = 0; q < count; ++q) {
          float* o = out + first + q;
          for (int32_t i = 0; i < h; ++i)
            if (IsValidPixel(o[int64_t(i) * w])) o[int64_t(i) * w] = float(spectra.Value(q, i));
        }
      });
    }
  }
  UpdateMinMax(result);
}

}  // namespace astrelon
