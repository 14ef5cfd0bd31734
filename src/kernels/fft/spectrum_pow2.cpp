#include "kernels/fft/spectrum_pow2.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "kernels/fft/fft_sizes.h"
#include "kernels/fft/fft_workspace.h"
#include "kernels/fft/pow2_lines.h"
#include "kernels/fft/spectrum_columns.h"
#include "kernels/fft/spectrum_rows.h"
#include "kernels/fft/spectrum_slots.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr float NoClip = 1e18f;

int Lanes() { return FftLaneCount(Sse2Enabled); }

// Column pairs in place: rows start .. h − 1, then rows h .. M − 1 running from
// row h − 1 back to row 0 along the taper, then rows 0 .. start − 1; scaled by 1/M.
void ForwardColumnsPow2(float* plane, int64_t W, int32_t h, int32_t start, const TFftPlan& plan, int lanes) {
  const int32_t M = plan.Length;
  const int64_t half = (W - 2) / 2 + 1;
  const std::vector<double> taper = TaperTable(M - h + 1);
  const double s = 1.0 / M;
  const int32_t t = std::clamp(start, 0, h - 1);
  ForEachColumnBlock(half, plan, lanes, [&](TColumnBlock& block) {
    constexpr int B = TColumnBlock::Width;
    double firstR[B], firstI[B], lastR[B], lastI[B], vr[B], vi[B];
    block.RowValues(plane, half, firstR, firstI);
    block.RowValues(plane + int64_t(h - 1) * W, half, lastR, lastI);
    // Point i: row t + i, then the tail, then rows 0 .. t − 1.
    block.Load(
        [&](int32_t i) -> const float* {
          if (i < h - t) return plane + (int64_t(t) + i) * W;
          if (i >= M - t) return plane + (int64_t(i) - (M - t)) * W;
          return nullptr;
        },
        half, 1.0);
    for (int32_t j = 0; j < M - h; ++j) {
      for (int c = 0; c < B; ++c) {
        vr[c] = firstR[c] + (lastR[c] - firstR[c]) * taper[size_t(j)];
        vi[c] = firstI[c] + (lastI[c] - firstI[c]) * taper[size_t(j)];
      }
      block.PutValues(h - t + j, vr, vi);
    }
    block.Transform();
    block.Store(M, [&](int32_t r) { return plane + r * W; }, half, s, s);
  });
}

// Inverse column pass (e^(+2πi·jk/M), unscaled) into `out`: row j gets point (shift + j) mod M.
void InverseColumnsPow2(const float* spectrum, float* out, int64_t W, int32_t outRows, int32_t shift,
                        const TFftPlan& plan, int lanes) {
  const int32_t M = plan.Length;
  const int64_t half = (W - 2) / 2 + 1;
  ForEachColumnBlock(half, plan, lanes, [&](TColumnBlock& block) {
    block.Load([&](int32_t r) { return spectrum + r * W; }, half, -1.0);
    block.Transform();
    // Output row j is point (shift + j) mod M: the points from `shift` on, then those before.
    block.Store(M, [&](int32_t i) -> float* {
      const int32_t j = i >= shift ? i - shift : i + (M - shift);
      return j < outRows ? out + int64_t(j) * W : nullptr;
    }, half, 1.0, -1.0);
  });
}

}  // namespace

int ImageToFft2DPow2(int source, int32_t startColumn, int32_t startRow, bool extraRow) {
  if (!SlotInUse(source)) return -1;
  const TImageSlot& src = Store.Image[source];
  const int32_t w = src.Width, h = src.Height;
  if (w < 1 || h < 1 || src.PlaneCount < 1) return -1;
  const int32_t N = NextPowerOfTwo(w), M = NextPowerOfTwo(h);
  if (N < 1 || M < 1) return -1;
  const int64_t W = int64_t(N) + 2, rows = int64_t(M) + (extraRow ? 1 : 0);
  const int dst = FindFreeSlot();
  if (dst < 1) return dst;
  try {
    CopySlotRecordOnly(source, dst);
    TImageSlot& im = Store.Image[dst];
    const auto rowPlan = FftPlanFor(N), columnPlan = FftPlanFor(M);
    const int lanes = Lanes();
    const std::vector<double> taper = TaperTable(N - w + 1);
    for (int p = 1; p <= src.PlaneCount; ++p) {
      if (src.Planes[p].size() < size_t(w) * size_t(h)) throw std::invalid_argument("Interner Fehler: Eine Bildebene ist kürzer als ihr Bild.");
      TPlane plane = NewSpectrumPlane(uint64_t(W) * uint64_t(rows));
      const float* in = src.Planes[p].data();
      ForwardRealRows(plane.data(), W, h, 1.0 / N, *rowPlan, lanes, [&](int64_t r, std::span<double> line) {
        PreparePow2Line(in + r * w, 1, w, startColumn, NoClip, false, taper, line);
      });
      ForwardColumnsPow2(plane.data(), W, h, startRow, *columnPlan, lanes);
      if (extraRow) std::copy_n(plane.data(), W, plane.data() + int64_t(M) * W);
      im.Planes[p].swap(plane);
    }
    im.FftWidth = w;
    im.FftHeight = h;
    im.Width = int32_t(W);
    im.Height = int32_t(rows);
    UpdateMinMax(dst);
  } catch (...) {
    FreeSlot(dst);
    throw;
  }
  return dst;
}

int FftToImage2DPow2(int spectrum, int destination, int32_t columnShift, int32_t rowShift) {
  if (!SlotInUse(spectrum)) return -1;
  const TImageSlot& sp = Store.Image[spectrum];
  const int32_t fw = sp.FftWidth, fh = sp.FftHeight;
  if (fw <= 3 || fh <= 3) return destination;
  const int32_t N = NextPowerOfTwo(fw), M = NextPowerOfTwo(fh);
  const int64_t W = int64_t(N) + 2;
  if (N < 1 || M < 1 || sp.Width != W || (sp.Height != M && sp.Height != M + 1)) return -1;
  for (int p = 1; p <= sp.PlaneCount; ++p)
    if (sp.Planes[p].size() < size_t(W) * size_t(M)) return -1;
  const int dst = destination < 1 ? FindFreeSlot() : destination;
  if (dst < 1 || dst > MaxImageSlots) return -1;
  const auto rowPlan = FftPlanFor(N), columnPlan = FftPlanFor(M);
  const int lanes = Lanes();
  const int32_t cs = int32_t(((int64_t(columnShift) % N) + N) % N), rs = int32_t(((int64_t(rowShift) % M) + M) % M);
  std::array<TPlane, 4> planes = InversePlanes(spectrum, W, fw, fh, [&](int p, float* out) {
    InverseColumnsPow2(sp.Planes[p].data(), out, W, fh, rs, *columnPlan, lanes);
    InverseRealRows(out, W, fh, fw, cs, true, *rowPlan, lanes);
  });
  return StoreInverse(spectrum, dst, planes, fw, fh);
}

}  // namespace astrelon
