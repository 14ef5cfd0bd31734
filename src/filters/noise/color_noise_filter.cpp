#include "filters/noise/color_noise_filter.h"

#include <algorithm>

#include "filters/dialog/filter_state.h"
#include "kernels/gauss/gauss_filters.h"
#include "store/color_models.h"

namespace astrelon {

bool FilterColorNoise(int source, int destination, const TWorkRect& rectIn, float radius, float threshold,
                      TFilterPoll& poll) {
  FilterAborted = false;
  if (!SlotInUse(source) || !SlotInUse(destination)) return true;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  if (!src.IsColor || src.PlaneCount < 3 || dst.PlaneCount < 3) return true;
  const int32_t w = src.Width, h = src.Height;
  if (dst.Width != w || dst.Height != h) return true;
  const TWorkRect rect{std::max(rectIn.x1, 0), std::min(rectIn.x2, w - 1), std::max(rectIn.y1, 0),
                       std::min(rectIn.y2, h - 1)};
  if (rect.x1 > rect.x2 || rect.y1 > rect.y2) return true;

  const bool sourceRgb = src.ColorModel == CmRgb, destinationRgb = dst.ColorModel == CmRgb;
  if (sourceRgb) RGBtoYUV(source);
  if (destinationRgb && destination != source) RGBtoYUV(destination);
  const float t = threshold * threshold * (src.PlaneMax[1] - src.PlaneMin[1]) / 10000.0f;
  bool done = true;
  for (int p = 2; p <= 3 && done; ++p)
    done = SelectiveGaussPlane({src.Planes[size_t(p)], dst.Planes[size_t(p)], w, h, rect}, radius, t,
                               {.Vector = true, .Poll = &poll, .PlaneIndex = p});
  if (sourceRgb) YUVtoRGB(source);
  if (destinationRgb && destination != source) YUVtoRGB(destination);
  return EndFilterRun(poll, done);
}

}  // namespace astrelon
