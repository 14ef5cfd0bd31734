// MinBlur and the automatic flattening built on it.
#include <algorithm>
#include <cmath>
#include <vector>

#include "kernels/background/background_flattening.h"
#include "kernels/background/min_blur_step.h"
#include "kernels/gauss/filter_rows.h"
#include "kernels/gauss/gauss_filters.h"
#include "platform/big_buffers.h"
#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

bool PlaneUsable(int slot, int plane) {
  if (!SlotInUse(slot) || plane < 1 || plane > 3) return false;
  const TImageSlot& s = Store.Image[size_t(slot)];
  return s.Width > 0 && s.Height > 0 && s.Planes[size_t(plane)].size() >= s.PixelCount();
}

// The scratch plane (slot 0, plane p) sized to the work plane.
TPlane& Scratch(int plane, size_t size) {
  TPlane& scratch = Store.Image[0].Planes[size_t(plane)];
  if (scratch.size() != size) {
    scratch.resize(size);
    AdviseHugePages(scratch.data(), scratch.size() * sizeof(float));
  }
  return scratch;
}

bool SameSize(int reference, int work) {
  const TImageSlot& A = Store.Image[size_t(reference)];
  const TImageSlot& Wk = Store.Image[size_t(work)];
  return A.Width == Wk.Width && A.Height == Wk.Height;
}

}  // namespace

void MinBlurStep(int reference, int work, int plane, float scale, int32_t reach) {
  if (!PlaneUsable(reference, plane) || !PlaneUsable(work, plane) || !SameSize(reference, work)) return;
  const TImageSlot& Wk = Store.Image[size_t(work)];
  MinBlurStepPlane(Store.Image[size_t(reference)].Planes[size_t(plane)], Wk.Planes[size_t(plane)],
                   Scratch(plane, Wk.Planes[size_t(plane)].size()), Wk.Width, Wk.Height, scale, reach, Sse2Enabled);
}

bool MinBlur(int reference, int work, int plane, int32_t radius, int32_t factor, bool progress, int progressSlot) {
  if (!PlaneUsable(reference, plane) || !PlaneUsable(work, plane) || !SameSize(reference, work)) return true;
  const float scale = 0.7f * float(factor);
  const int32_t full = std::abs(radius);
  const int32_t sign = radius < 0 ? -1 : 1;
  // The steps with the progress each one shows (none after the first).
  struct TPlannedStep {
    int32_t Reach;
    float Percent;
  };
  std::vector<TPlannedStep> steps{{sign, -1}};
  for (int sweep = 0; sweep < 2; ++sweep) {
    const int32_t limit = sweep == 0 ? full : full / 2;
    if (limit == 0 || limit < full / 2) break;
    for (int32_t r = sweep == 0 ? 2 : 1; r <= limit; r = r + 1 + r / 2) {
      const double percent = sweep == 0 ? double(r) / limit * 66 : double(r) / limit * 34 + 66;
      steps.push_back({sweep == 0 ? sign * r : r, float(std::nearbyint(percent))});
    }
  }
  TFilterPoll poll;
  poll.ShowProgressIn(progress ? progressSlot : -1, work, "Min Blur");
  Store.InUse[0] = 1;
  const int32_t width = Store.Image[size_t(work)].Width, height = Store.Image[size_t(work)].Height;
  TPlane& workPlane = Store.Image[size_t(work)].Planes[size_t(plane)];
  const size_t size = workPlane.size();
  TPlane& scratch = Scratch(plane, size);
  const std::span<const float> referencePlane = Store.Image[size_t(reference)].Planes[size_t(plane)];
  // Each step's result replaces the work plane; the old one serves as the next
  // scratch. Two steps whose rows fit in the cache run in one pass (the abort
  // flag is then seen after both).
  bool stopped = false;
  for (size_t k = 0; k < steps.size() && !stopped;) {
    // A reference in the work slot is the work plane as the steps leave it.
    const std::span<const float> a = reference == work ? std::span<const float>(workPlane) : referencePlane;
    const std::span<const float> source = k == 0 ? a : std::span<const float>(workPlane);
    const bool pair = k + 1 < steps.size() && MinBlurPairFits(width, height, steps[k].Reach, steps[k + 1].Reach);
    if (pair)
      MinBlurStepPairPlane(a, source, scratch, width, height, scale, steps[k].Reach, steps[k + 1].Reach,
                           Sse2Enabled);
    else
      MinBlurStepPlane(a, source, scratch, width, height, scale, steps[k].Reach, Sse2Enabled);
    workPlane.swap(scratch);
    k += pair ? 2 : 1;
    const float percent = steps[k - 1].Percent;
    stopped = percent < 0 ? poll.Stopped() : !poll.ContinuePercent(plane, percent);
  }
  // The scratch plane goes in the background: unmapping it takes milliseconds.
  TPlane spent;
  spent.swap(Store.Image[0].Planes[size_t(plane)]);
  const size_t spentBytes = spent.size() * sizeof(float);
  ReleaseInBackground(std::move(spent), spentBytes);
  FreeSlot(0);
  if (progress) poll.HideProgress();
  return !stopped;
}

bool FlattenBackgroundAuto(int source, int destination, int32_t divisor, bool progress) {
  if (!SlotInUse(source) || !SlotInUse(destination) || divisor < 1) return false;
  const TImageSlot& S = Store.Image[size_t(source)];
  TImageSlot& D = Store.Image[size_t(destination)];
  const int32_t width = D.Width, height = D.Height;
  if (S.Width != width || S.Height != height || width < 1 || height < 1) return false;
  const int32_t radius = AutoFlattenRadius(width, divisor);
  SetWorkRectToImage(destination);
  for (int p = FirstChannel(destination); p >= 1 && p <= std::min(D.PlaneCount, 3); NextChannel(destination, p)) {
    if (!PlaneUsable(source, p) || !PlaneUsable(destination, p)) continue;
    if (!MinBlur(source, destination, p, -radius, 1, progress, destination)) return false;
    fGauss(destination, destination, p, 0, width - 1, 0, height - 1, 3.0f, progress, destination, 100, "");
    if (AbortRequested) return false;
    TPercentileLevels level;
    GetPercentileLevels(destination, p, 0, width - 1, 0, height - 1, 35, 35, level);
    const float* s = S.Planes[size_t(p)].data();
    float* d = D.Planes[size_t(p)].data();
    const double a = level.LevelA;
    ForEachChunk(
        0, height, width,
        [&](int64_t ya, int64_t yb) {
          for (size_t i = size_t(ya) * size_t(width); i < size_t(yb) * size_t(width); ++i)
            d[i] = IsValidPixel(s[i]) ? float(s[i] - d[i] + a) : BlankPixel;
        },
        [](int64_t) { return true; });
  }
  return true;
}

}  // namespace astrelon
