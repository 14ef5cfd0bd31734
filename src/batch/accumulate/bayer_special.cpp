#include "batch/accumulate/bayer_special.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "batch/accumulate/frame_alignment.h"
#include "batch/accumulate/mosaic_splat_run.h"
#include "batch/accumulate/weighted_target.h"
#include "core/settings.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The rows a band of threads takes: about 64 target rows each.
int Threads(int32_t rows) { return BandThreads(rows, 64, Options.Multicore != 0); }

// to[0] += add[0], to[1] += add[1].
inline void AddPair(float* to, const float* add) {
#if ASTRELON_HAVE_SSE2
  // Eight-byte loads and stores without alignment.
  const __m128 a = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(to)));
  const __m128 b = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(add)));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_castps_si128(_mm_add_ps(a, b)));
#else
  to[0] += add[0];
  to[1] += add[1];
#endif
}

// Forward mapping of one or two pairs: every frame row, the target rows of
// the band [r0, r1) it reaches. Each target pixel takes its shares in frame
// order whatever the bands.
void SplatRows(TWeightedTarget& t, TImageSlot& target, const float* frame, int32_t fw, int32_t fh,
               const TFrameAlignment& a, float shift, float frameWeight, int64_t r0, int64_t r1, bool vector) {
  const double xLimit = t.Width - 1.1, yLimit = t.Height - 1.1;
  const size_t tw = size_t(t.Width);
  // The vector runs index the target with 32-bit numbers.
  vector = vector && UseAvx2(true) && uint64_t(t.Width) * uint64_t(t.Height) < (uint64_t(1) << 31);
  TSplatRun run;
  double c0, y0, c1, y1;
  for (int32_t j = 0; j < fh; ++j) {
    a.Unmap(0, j, c0, y0);
    a.Unmap(fw - 1, j, c1, y1);
    if (std::max(y0, y1) + 1 < double(r0) || std::min(y0, y1) >= double(r1)) continue;
    double stepX, stepY;
    a.Unmap(1, j, stepX, stepY);
    stepX -= c0;
    stepY -= y0;
    // The two colours of this frame row, by column parity.
    float* sums[2];
    float* weights[2];
    bool used[2];
    for (int k = 0; k < 2; ++k) {
      const int plane = MosaicCellColor(t.Pattern, k, j) + 1;
      used[k] = plane >= 1 && plane <= 3;
      sums[k] = used[k] ? target.Planes[size_t(plane)].data() : nullptr;
      weights[k] = used[k] ? t.Weights[size_t(plane - 1)].data() : nullptr;
    }
    const float* row = frame + size_t(j) * size_t(fw);
    if (vector) {
      // Where the row's pixels land, found a run at a time; then added in
      // frame order.
      TSplatRow splat;
      splat.Values = row;
      splat.C0 = c0;
      splat.Y0 = y0;
      splat.StepX = stepX;
      splat.StepY = stepY;
      splat.XLimit = xLimit;
      splat.YLimit = yLimit;
      splat.Used[0] = used[0];
      splat.Used[1] = used[1];
      splat.R0 = r0;
      splat.R1 = r1;
      splat.TargetWidth = t.Width;
      splat.Shift = shift;
      splat.Weight = frameWeight;
      for (int32_t first = 0; first < fw; first += SplatRunLength) {
        const int32_t count = std::min(SplatRunLength, fw - first);
        PrepareSplatRun(splat, first, count, run, true);
        for (int32_t k = 0; k < count; ++k) {
          if (run.At[k] < 0) continue;
          const int32_t i = first + k;
          float* sum = sums[i & 1] + run.At[k];
          float* weight = weights[i & 1] + run.At[k];
          // Each pair of neighbours added at once: the same two sums.
          if (run.Iy[k] >= r0) {
            AddPair(sum, run.Top + 2 * k);
            AddPair(weight, run.TopWeight + 2 * k);
          }
          if (run.Iy[k] + 1 < r1) {
            AddPair(sum + tw, run.Bottom + 2 * k);
            AddPair(weight + tw, run.BottomWeight + 2 * k);
          }
        }
      }
      continue;
    }
    for (int32_t i = 0; i < fw; ++i) {
      const double X = c0 + stepX * i, Y = y0 + stepY * i;
      const float v = row[i];
      if (!IsValidPixel(v) || !used[i & 1] || !(X >= 0 && X < xLimit && Y >= 0 && Y < yLimit)) continue;
      const int32_t ix = int32_t(X), iy = int32_t(Y);
      if (iy + 1 < r0 || iy >= r1) continue;
      const float fx = float(X - ix), fy = float(Y - iy);
      const float value = v + shift;
      float* sum = sums[i & 1];
      float* weight = weights[i & 1];
      const size_t at = size_t(iy) * tw + size_t(ix);
      if (iy >= r0) {
        const float w0 = (1 - fx) * (1 - fy) * frameWeight, w1 = fx * (1 - fy) * frameWeight;
        sum[at] += value * w0;
        sum[at + 1] += value * w1;
        weight[at] += w0;
        weight[at + 1] += w1;
      }
      if (iy + 1 < r1) {
        const float w2 = (1 - fx) * fy * frameWeight, w3 = fx * fy * frameWeight;
        sum[at + tw] += value * w2;
        sum[at + tw + 1] += value * w3;
        weight[at + tw] += w2;
        weight[at + tw + 1] += w3;
      }
    }
  }
}

// Reverse mapping (more pairs): each target pixel of rows [r0, r1) takes the
// four frame pixels around its frame position into their own planes.
void GatherRows(TWeightedTarget& t, TImageSlot& target, const float* frame, int32_t fw, int32_t fh,
                const TFrameAlignment& a, float shift, double frameWeight, int64_t r0, int64_t r1) {
  for (int64_t r = r0; r < r1; ++r)
    for (int32_t c = 0; c < t.Width; ++c) {
      double x, y;
      a.Map(c, double(r), x, y);
      if (!(x >= 0 && x < fw - 1.6 && y >= 0 && y < fh - 1.6)) continue;
      const int32_t ix = int32_t(x), iy = int32_t(y);
      const double fx = x - ix, fy = y - iy;
      const double w[4] = {(1 - fx) * (1 - fy) * frameWeight, fx * (1 - fy) * frameWeight,
                           (1 - fx) * fy * frameWeight, fx * fy * frameWeight};
      const int32_t dx[4] = {0, 1, 0, 1}, dy[4] = {0, 0, 1, 1};
      const size_t at = size_t(r) * size_t(t.Width) + size_t(c);
      for (int k = 0; k < 4; ++k) {
        const int32_t i = ix + dx[k], j = iy + dy[k];
        const float v = frame[size_t(j) * size_t(fw) + size_t(i)];
        const int plane = MosaicCellColor(t.Pattern, i, j) + 1;
        if (!IsValidPixel(v) || plane < 1 || plane > 3) continue;
        target.Planes[size_t(plane)][at] += float((double(v) + shift) * w[k]);
        t.Weights[size_t(plane - 1)][at] += float(w[k]);
      }
    }
}

}  // namespace

bool PrepareBayerSpecialTarget(int frameSlot) {
  TWeightedTarget& t = BayerTarget;
  if (t.Exists()) FreeSlot(t.Slot);
  t = TWeightedTarget();
  if (!SlotInUse(frameSlot) || Store.Image[size_t(frameSlot)].PlaneCount != 1) return false;
  const int slot = FindFreeSlot();
  if (slot < 1) return false;
  try {
    CopyImageSlot(frameSlot, slot);
    TImageSlot& im = Store.Image[size_t(slot)];
    t.Level = {0, PlaneLevel30(frameSlot, 1), 0, 0};
    t.Level[2] = t.Level[3] = t.Level[1];
    im.PlaneCount = 3;
    im.IsColor = 1;
    im.ColorModel = CmRgb;
    im.AllocatePlanes(3);
    for (int p = 1; p <= 3; ++p) std::fill(im.Planes[size_t(p)].begin(), im.Planes[size_t(p)].end(), 0.0f);
    SetHeader3Axis(slot);
    SetDisplayColorType(slot);
    t.Width = im.Width;
    t.Height = im.Height;
    for (auto& w : t.Weights) w.assign(im.PixelCount(), 0.0f);
  } catch (const std::bad_alloc&) {
    t.Abandon(slot);
    return false;
  }
  t.Slot = slot;
  t.Bayer = true;
  StoreMosaicPattern();
  t.Pattern = MosaicPattern;
  if (const auto numbers = ReadMosaicNumbers(MosaicSettings)) {
    t.RedFactor = numbers->Rmul;
    t.BlueFactor = numbers->Bmul;
  }
  return true;
}

void BayerSpezialAddieren(int frameSlot, const TFrameAlignment& alignment, bool listed, float frameWeight) {
  TWeightedTarget& t = BayerTarget;
  if (!t.Exists() || !SlotInUse(frameSlot)) return;
  TImageSlot& frameImage = Store.Image[size_t(frameSlot)];
  if (listed) {
    // A listed frame did not pass the alignment step's colour factors.
    for (int32_t j = 0; j < frameImage.Height; ++j)
      for (int32_t i = 0; i < frameImage.Width; ++i) {
        float& v = frameImage.At(1, i, j);
        const int32_t colour = MosaicCellColor(t.Pattern, i, j);
        if (!IsValidPixel(v)) continue;
        if (colour == McRed) v = float(v * t.RedFactor);
        if (colour == McBlue) v = float(v * t.BlueFactor);
      }
  }
  const float shift = t.Level[1] - PlaneLevel30(frameSlot, 1);
  TImageSlot& target = Store.Image[size_t(t.Slot)];
  const float* frame = frameImage.Planes[1].data();
  const int32_t fw = frameImage.Width, fh = frameImage.Height;
  ForEachBand(t.Height, Threads(t.Height), [&](int64_t r0, int64_t r1) {
    if (alignment.Count <= 2)
      SplatRows(t, target, frame, fw, fh, alignment, shift, frameWeight, r0, r1, Sse2Enabled);
    else
      GatherRows(t, target, frame, fw, fh, alignment, shift, frameWeight, r0, r1);
  });
}

}  // namespace astrelon
