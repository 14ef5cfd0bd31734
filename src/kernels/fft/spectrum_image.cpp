#include "kernels/fft/spectrum_image.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "core/settings.h"
#include "kernels/fft/fft_edges.h"
#include "kernels/fft/fft_sizes.h"
#include "kernels/fft/spectrum_columns.h"
#include "kernels/fft/spectrum_rows.h"
#include "kernels/regions/blank_interpolation.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

std::shared_ptr<const TFftPlan> PlanOrThrow(int32_t n) {
  auto plan = FftPlanFor(n);
  if (!plan) throw std::logic_error("Interner Fehler: Für diese Transformationslänge gibt es keinen Plan.");
  return plan;
}

// Column pairs (k, half + k) of a plane of width W and M rows, in place: a
// complex transform of M points scaled by 1/M, bin b written to row RowOfBin(b).
void ForwardColumns(float* plane, const TFftImage& f, const TFftPlan& plan, int lanes) {
  const int64_t W = f.Width(), half = f.Half();
  const int32_t M = plan.Length;
  const double s = 1.0 / M;
  ForEachColumnBlock(half, plan, lanes, [&](TColumnBlock& block) {
    block.Load([&](int32_t r) { return plane + r * W; }, half, 1.0);
    block.Transform();
    block.Store(M, [&](int32_t b) { return plane + int64_t(f.RowOfBin(b)) * W; }, half, s, s);
  });
}

// The column pass of the inverse: spectrum columns read in bin order with the
// imaginary parts negated, transformed, and rows 0 .. outRows − 1 written into
// `out` (same width).
void InverseColumns(const float* spectrum, float* out, const TFftImage& f, int32_t outRows, const TFftPlan& plan,
                    int lanes) {
  const int64_t W = f.Width(), half = f.Half();
  ForEachColumnBlock(half, plan, lanes, [&](TColumnBlock& block) {
    block.Load([&](int32_t b) { return spectrum + int64_t(f.RowOfBin(b)) * W; }, half, -1.0);
    block.Transform();
    block.Store(outRows, [&](int32_t r) { return out + r * W; }, half, 1.0, 1.0);
  });
}

int Lanes() { return FftLaneCount(Sse2Enabled); }

}  // namespace

int32_t FftOuterMarginSetting() { return std::clamp(Settings.FftNoiseParam2, 0, 99); }

TFftImage MixedRadixLayout(int32_t fftWidth, int32_t fftHeight, int32_t outer) {
  const int64_t o = std::max(outer, 0);
  return {NextGoodFftSize(int32_t(std::min<int64_t>(fftWidth + o, INT32_MAX - 2)), true),
          NextGoodFftSize(int32_t(std::min<int64_t>(fftHeight + o, INT32_MAX)), true)};
}

int ImageToFft2D(int source, int32_t inner, int32_t outer) {
  if (!SlotInUse(source)) return -1;
  const TImageSlot& src = Store.Image[source];
  const int32_t w = src.Width, h = src.Height;
  if (w < 1 || h < 1 || src.PlaneCount < 1) return -1;
  const TFftImage f = MixedRadixLayout(w, h, outer);
  if (f.N < 1 || f.M < 1 || f.N > INT32_MAX - 2) return -1;
  const int dst = FindFreeSlot();
  if (dst < 1) return dst;
  try {
    CopySlotRecordOnly(source, dst);
    TImageSlot& im = Store.Image[dst];
    const auto rowPlan = PlanOrThrow(f.N), columnPlan = PlanOrThrow(f.M);
    const int lanes = Lanes();
    const int threads = SpectrumThreads(f.M, f.Width());
    // The source straight into the padded planes; one with blank pixels is
    // filled in a copy first and padded from there.
    bool valid = true;
    for (int p = 1; p <= src.PlaneCount; ++p) {
      im.Planes[p] = NewSpectrumPlane(uint64_t(f.Width()) * uint64_t(f.M));
      valid &= CopyIntoPadded(src.Planes[p], w, h, im.Planes[p], f.N, f.M, threads);
    }
    if (!valid) {
      std::array<TPlane, 4> padded;
      for (int p = 1; p <= src.PlaneCount; ++p) {
        padded[size_t(p)].swap(im.Planes[p]);
        im.Planes[p].assign(src.Planes[p].begin(), src.Planes[p].end());
      }
      im.Width = w, im.Height = h;
      InterpolateBlankPixels(dst, dst, true, false);
      for (int p = 1; p <= src.PlaneCount; ++p) {
        CopyIntoPadded(im.Planes[p], w, h, padded[size_t(p)], f.N, f.M, threads);
        im.Planes[p].swap(padded[size_t(p)]);
      }
    }
    for (int p = 1; p <= src.PlaneCount; ++p) {
      float* plane = im.Planes[p].data();
      PadMargins(im.Planes[p], w, h, f.N, f.M, inner, threads);
      ForwardRealRows(plane, f.Width(), f.M, 1.0 / f.N, *rowPlan, lanes);
      ForwardColumns(plane, f, *columnPlan, lanes);
    }
    im.FftWidth = w;
    im.FftHeight = h;
    im.Width = f.Width();
    im.Height = f.M;
    UpdateMinMax(dst);
  } catch (...) {
    FreeSlot(dst);
    throw;
  }
  return dst;
}

int FftToImage2D(int spectrum, int destination, int32_t outer) {
  if (!SlotInUse(spectrum)) return -1;
  const TImageSlot& sp = Store.Image[spectrum];
  const int32_t fw = sp.FftWidth, fh = sp.FftHeight;
  if (fw <= 3 || fh <= 3) return destination;
  const TFftImage f = MixedRadixLayout(fw, fh, outer);
  if (f.N < 1 || f.M < 1 || sp.Width != f.Width() || sp.Height != f.M) return -1;
  const size_t spectrumValues = size_t(f.Width()) * size_t(f.M);
  for (int p = 1; p <= sp.PlaneCount; ++p)
    if (sp.Planes[p].size() < spectrumValues) return -1;
  const int dst = destination < 1 ? FindFreeSlot() : destination;
  if (dst < 1 || dst > MaxImageSlots) return -1;
  const auto rowPlan = PlanOrThrow(f.N), columnPlan = PlanOrThrow(f.M);
  const int lanes = Lanes();
  // The new planes are made first; the destination changes only when all are done.
  std::array<TPlane, 4> planes = InversePlanes(spectrum, f.Width(), fw, fh, [&](int p, float* out) {
    InverseColumns(sp.Planes[p].data(), out, f, fh, *columnPlan, lanes);
    InverseRealRows(out, f.Width(), fh, fw, 0, false, *rowPlan, lanes);
  });
  return StoreInverse(spectrum, dst, planes, fw, fh);
}

}  // namespace astrelon
