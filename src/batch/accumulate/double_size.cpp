#include "batch/accumulate/double_size.h"

#include <algorithm>
#include <new>

#include "batch/accumulate/double_size_span.h"
#include "batch/accumulate/footprint_sample.h"
#include "batch/accumulate/frame_alignment.h"
#include "batch/accumulate/weighted_target.h"
#include "common/engine_ui.h"
#include "core/settings.h"
#include "platform/memory_probe.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/load_messages.h"

namespace astrelon {

namespace {

int Threads(int32_t rows) { return BandThreads(rows, 32, Options.Multicore != 0); }

}  // namespace

bool PrepareDoubleSizeTarget(int frameSlot) {
  TWeightedTarget& t = SwarpTarget;
  if (t.Exists()) FreeSlot(t.Slot);
  t.ReleaseWeights();
  t = TWeightedTarget();
  if (!SlotInUse(frameSlot)) return false;
  const int slot = FindFreeSlot();
  if (slot < 1) {
    EngineUi().ShowMessage(TooManyImagesText());
    return false;
  }
  const TImageSlot& frame = Store.Image[size_t(frameSlot)];
  const int planes = std::clamp(frame.PlaneCount, 1, 3);
  if (frame.Width < 1 || frame.Height < 1) return false;
  const int64_t w = 2 * int64_t(frame.Width) - 1, h = 2 * int64_t(frame.Height) - 1;
  // A sum and a weight plane per colour plane, and the frame's copy (a
  // quarter of the size per plane) while the sums are made.
  if (!NewPlanesFit(w, h, 2 * planes + 1)) {
    EngineUi().ShowMessage(NotEnoughMemoryText);
    return false;
  }
  try {
    CopyImageSlot(frameSlot, slot);
    TImageSlot& im = Store.Image[size_t(slot)];
    std::array<TPlane, 4> sums;
    for (int p = 1; p <= planes; ++p) {
      t.Level[size_t(p)] = PlaneLevel30(frameSlot, p);
      t.Weights[size_t(p - 1)].assign(size_t(w) * size_t(h), 0.0f);
      sums[size_t(p)].resize(size_t(w) * size_t(h));
      const float* src = frame.Planes[size_t(p)].data();
      float* weight = t.Weights[size_t(p - 1)].data();
      float* sum = sums[size_t(p)].data();
      ForEachBand(h, Threads(h), [&](int64_t r0, int64_t r1) {
        for (int64_t j = r0; j < r1; ++j)
          for (int32_t i = 0; i < w; ++i) {
            double wt = 0;
            const double v = FootprintSample(src, frame.Width, frame.Height, double(j) / 2, double(i) / 2, wt);
            const size_t at = size_t(j) * size_t(w) + size_t(i);
            sum[at] = wt > 0 ? float(v) : 0.0f;
            weight[at] = float(wt);
          }
      });
    }
    for (int p = 1; p <= planes; ++p) im.Planes[size_t(p)].swap(sums[size_t(p)]);
    im.Width = int32_t(w);
    im.Height = int32_t(h);
    SetNaxisCards(slot);
  } catch (const std::bad_alloc&) {
    t.Abandon(slot);
    EngineUi().ShowMessage(NotEnoughMemoryText);
    return false;
  }
  t.Slot = slot;
  t.Width = int32_t(w);
  t.Height = int32_t(h);
  return true;
}

void AddToDoubleSizeTarget(int frameSlot, const TFrameAlignment& alignment, float frameWeight) {
  TWeightedTarget& t = SwarpTarget;
  if (!t.Exists() || !SlotInUse(frameSlot)) return;
  const TImageSlot& frame = Store.Image[size_t(frameSlot)];
  TImageSlot& target = Store.Image[size_t(t.Slot)];
  const int planes = std::clamp(target.PlaneCount, 1, 3);
  for (int p = 1; p <= planes; ++p) {
    const int q = std::min(p, frame.PlaneCount);
    const float shift = t.Level[size_t(p)] - PlaneLevel30(frameSlot, q);
    const float* src = frame.Planes[size_t(q)].data();
    float* sum = target.Planes[size_t(p)].data();
    float* weight = t.Weights[size_t(p - 1)].data();
    if (!src || t.Weights[size_t(p - 1)].size() < target.PixelCount()) continue;
    TDoubleSizeSpan span;
    span.Frame = src;
    span.FrameWidth = frame.Width;
    span.FramePixels = int64_t(frame.PixelCount());
    span.XLimit = frame.Width - 1.61;
    span.YLimit = frame.Height - 1.61;
    span.Shift = double(shift);
    span.FrameWeight = double(frameWeight);
    // The vector loop indexes the frame with 32-bit offsets.
    const bool vector = Sse2Enabled && frame.PixelCount() < (size_t(1) << 30);
    ForEachBand(t.Height, Threads(t.Height), [&](int64_t r0, int64_t r1) {
      // Frame positions of a run of target pixels, then the run added.
      constexpr int32_t Run = 256;
      double xs[Run], ys[Run];
      TDoubleSizeSpan run = span;
      for (int64_t j = r0; j < r1; ++j) {
        // One or two pairs map linearly: the frame position advances by a
        // constant step along the target row.
        double baseX, baseY, x, y;
        alignment.Map(0, double(j) / 2, baseX, baseY);
        alignment.Map(0.5, double(j) / 2, x, y);
        const double stepX = x - baseX, stepY = y - baseY;
        const bool linear = alignment.Count <= 2;
        if (linear) {
          run.Linear = true;
          run.BaseX = baseX;
          run.BaseY = baseY;
          run.StepX = stepX;
          run.StepY = stepY;
          run.First = 0;
          run.Sum = sum + size_t(j) * size_t(t.Width);
          run.Weight = weight + size_t(j) * size_t(t.Width);
          AddDoubleSizeSpan(run, nullptr, nullptr, t.Width, vector);
          continue;
        }
        for (int32_t first = 0; first < t.Width; first += Run) {
          const int32_t count = std::min(Run, t.Width - first);
          for (int32_t k = 0; k < count; ++k) alignment.Map(double(first + k) / 2, double(j) / 2, xs[k], ys[k]);
          const size_t at = size_t(j) * size_t(t.Width) + size_t(first);
          run.Sum = sum + at;
          run.Weight = weight + at;
          AddDoubleSizeSpan(run, xs, ys, count, vector);
        }
      }
    });
  }
}

}  // namespace astrelon
