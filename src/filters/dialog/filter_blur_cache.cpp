#include "filters/dialog/filter_blur_cache.h"

#include "common/round_even.h"
#include "filters/dialog/filter_state.h"
#include "kernels/background/background_flattening.h"
#include "kernels/colour/color_to_mono.h"
#include "kernels/gauss/gauss_filters.h"

namespace astrelon {

namespace {

// What the cache holds besides its radius.
struct TCachedBlur {
  int32_t Slot = -1, Source = -1;
  TBlurCacheKind Kind = TBlurCacheKind::Blur;
  TWorkRect Rect;
};
TCachedBlur Cached;

bool SameRect(const TWorkRect& a, const TWorkRect& b) {
  return a.x1 == b.x1 && a.x2 == b.x2 && a.y1 == b.y1 && a.y2 == b.y2;
}

bool Stopped(const TFilterCall& c) { return c.Poll ? c.Poll->Stopped() : AbortRequested != 0; }

}  // namespace

bool PrepareFilterBlur(TFilterCall& c, TBlurCacheKind kind) {
  const TWorkRect r = c.Rect;
  if (r.x2 - r.x1 <= 1 || r.y2 - r.y1 <= 1) return false;
  const float radius = c.Value[1];
  const bool held = SlotInUse(FilterBlurSlot) && !Store.HasWindow[size_t(FilterBlurSlot)];
  if (held && FilterBlurValid && FilterBlurRadius == radius && Cached.Slot == FilterBlurSlot &&
      Cached.Source == c.Source && Cached.Kind == kind && SameRect(Cached.Rect, r))
    return true;
  if (!held) {
    // A number the dialog released is never written again: take a free slot.
    FilterBlurSlot = FindFreeSlot();
    if (FilterBlurSlot < 1) {
      FilterBlurSlot = -1;
      InvalidateFilterBlur();
      return false;
    }
  }
  InvalidateFilterBlur();
  const int cache = FilterBlurSlot;
  if (kind == TBlurCacheKind::Blur) {
    CopyImageSlot(c.Destination, cache);
    fGauss(c.Source, cache, 0, r.x1, r.x2, r.y1, r.y2, radius, true, c.Destination, 100, "", c.Poll);
  } else {
    // The luminance: a copy of a grey source, the plain mean of a colour one;
    // then its smooth background in place.
    const TImageSlot& src = Store.Image[size_t(c.Source)];
    if (src.IsColor && src.PlaneCount >= 3)
      ConvertColorToMono(c.Source, cache, false);
    else
      CopyImageSlot(c.Source, cache);
    Store.InUse[size_t(cache)] = 1;
    if (!Stopped(c))
      FlattenBackgroundMasked(cache, cache, float(RoundEvenToInt(radius)), r.x1, r.y1, r.x2, r.y2, true, true,
                              false, c.Caption, c.Destination, 0.35, c.Poll);
  }
  if (Stopped(c)) return false;
  FilterBlurValid = true;
  FilterBlurRadius = radius;
  Cached = {cache, c.Source, kind, r};
  return true;
}

}  // namespace astrelon
