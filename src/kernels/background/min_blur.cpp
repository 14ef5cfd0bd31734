// MinBlur and the automatic flattening built on it.
#include <algorithm>
#include <cmath>

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

}  // namespace

void MinBlurStep(int reference, int work, int plane, float scale, int32_t reach) {
  if (!PlaneUsable(reference, plane) || !PlaneUsable(work, plane)) return;
  const TImageSlot& A = Store.Image[size_t(reference)];
  const TImageSlot& Wk = Store.Image[size_t(work)];
  const int32_t width = Wk.Width, height = Wk.Height;
  if (A.Width != width || A.Height != height) return;
  TPlane& scratch = Store.Image[0].Planes[size_t(plane)];
  if (scratch.size() != Wk.Planes[size_t(plane)].size()) {
    scratch.resize(Wk.Planes[size_t(plane)].size());
    AdviseHugePages(scratch.data(), scratch.size() * sizeof(float));
  }
  MinBlurStepPlane(A.Planes[size_t(plane)], Wk.Planes[size_t(plane)], scratch, width, height, scale, reach,
                   Sse2Enabled);
}

bool MinBlur(int reference, int work, int plane, int32_t radius, int32_t factor, bool progress, int progressSlot) {
  if (!PlaneUsable(reference, plane) || !PlaneUsable(work, plane)) return true;
  const float scale = 0.7f * float(factor);
  const int32_t full = std::abs(radius);
  const int32_t sign = radius < 0 ? -1 : 1;
  TFilterPoll poll;
  poll.ShowProgressIn(progress ? progressSlot : -1, work, "Min Blur");
  Store.InUse[0] = 1;
  // Each step's result replaces the work plane; the old one serves as the next scratch.
  const auto step = [&](int source, int32_t reach) {
    MinBlurStep(reference, source, plane, scale, reach);
    Store.Image[size_t(work)].Planes[size_t(plane)].swap(Store.Image[0].Planes[size_t(plane)]);
  };
  step(reference, sign);
  bool stopped = poll.Stopped();
  for (int sweep = 0; sweep < 2 && !stopped; ++sweep) {
    const int32_t limit = sweep == 0 ? full : full / 2;
    if (limit == 0 || limit < full / 2) break;
    for (int32_t r = sweep == 0 ? 2 : 1; r <= limit; r = r + 1 + r / 2) {
      step(work, sweep == 0 ? sign * r : r);
      const double percent = sweep == 0 ? double(r) / limit * 66 : double(r) / limit * 34 + 66;
      if (!poll.ContinuePercent(plane, float(std::nearbyint(percent)))) {
        stopped = true;
        break;
      }
    }
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
