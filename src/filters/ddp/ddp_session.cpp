#include "filters/ddp/ddp_session.h"

#include <algorithm>

#include "filters/ddp/ddp_pass.h"
#include "filters/dialog/filter_state.h"
#include "kernels/colour/color_to_mono.h"
#include "kernels/gauss/gauss_filters.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

bool TDdpSession::Start(int source, int destination) {
  End();
  if (!SlotInUse(source) || !SlotInUse(destination)) return false;
  if (FilterBlurSlot < 1 || !SlotInUse(FilterBlurSlot)) FilterBlurSlot = FindFreeSlot();
  if (FilterBlurSlot < 1 || !CopyImageSlot(destination, FilterBlurSlot)) {
    ReleaseFilterSlot(FilterBlurSlot);
    return false;
  }
  Store.HasWindow[size_t(FilterBlurSlot)] = 0;
  InvalidateFilterBlur();  // the dialog's cache no longer holds its blur
  const TImageSlot& s = Store.Image[size_t(source)];
  TPercentileLevels levels;
  GetPercentileLevels(source, 1, 0, s.Width - 1, 0, s.Height - 1, 1, 99.8, levels);
  black_ = float(levels.LevelA);
  range_ = float((levels.LevelB - levels.LevelA) / 1.4 + 0.1);
  floor_ = Store.Image[size_t(destination)].MinValue;
  source_ = source;
  destination_ = destination;
  cachedRadius_ = -1;
  return true;
}

TDdpCompute TDdpSession::Compute(int gammaPosition, int radiusPosition, const std::array<int32_t, 4>& masks,
                                 bool multicore) {
  if (!SlotInUse(source_) || !SlotInUse(destination_) || !SlotInUse(FilterBlurSlot)) return TDdpCompute::NoImage;
  const TImageSlot& src = Store.Image[size_t(source_)];
  TImageSlot& dst = Store.Image[size_t(destination_)];
  const bool colour = src.IsColor && src.PlaneCount >= 3;
  if (radiusPosition != cachedRadius_) {
    fGauss(source_, FilterBlurSlot, 0, 0, src.Width - 1, 0, src.Height - 1, float(radiusPosition) * 0.1f, true,
           destination_, 100, "");
    if (AbortRequested) {
      cachedRadius_ = -1;
      return TDdpCompute::Aborted;
    }
    cachedRadius_ = radiusPosition;
    luminance_ = colour ? GreyPlaneOf(FilterBlurSlot) : TPlane{};
  }
  const TImageSlot& blur = Store.Image[size_t(FilterBlurSlot)];
  const TDdpFigures f = DdpFigures(gammaPosition, black_, range_, floor_);
  const size_t count = src.PixelCount();
  for (int p = FirstChannel(destination_); p >= 1 && p <= std::min(src.PlaneCount, 3); NextChannel(destination_, p)) {
    // A grey image divides by its own blur; a colour plane by the one its mask names.
    const TPlane* b = &blur.Planes[size_t(p)];
    if (colour) {
      const int32_t m = masks[size_t(p)];
      if (m == DdpMaskL) b = luminance_.size() == count ? &luminance_ : &blur.Planes[1];
      else b = &blur.Planes[size_t(std::clamp(m, 0, 2) + 1)];
    }
    if (src.Planes[size_t(p)].size() != count || dst.Planes[size_t(p)].size() != count || b->size() != count) continue;
    DdpPlane(src.Planes[size_t(p)].data(), b->data(), dst.Planes[size_t(p)].data(), count, f, multicore);
  }
  return TDdpCompute::Done;
}

void TDdpSession::End() {
  if (destination_ >= 1) ReleaseFilterSlot(FilterBlurSlot);
  luminance_ = TPlane{};
  source_ = destination_ = -1;
  cachedRadius_ = -1;
}

}  // namespace astrelon
