#include "pixelops/colour/colour_layer_alignment.h"

#include <algorithm>

#include "kernels/alignment/match_quality.h"
#include "kernels/alignment/shift_by_correlation.h"
#include "kernels/sampling/align_to_reference.h"

namespace astrelon {

namespace {

constexpr int32_t SearchRange = 40;

}  // namespace

std::optional<TLayerMatch> MeasureLayerShifts(int slot, const TWorkRect& region) {
  if (!SlotInUse(slot) || Store.Image[size_t(slot)].PlaneCount < 3) return std::nullopt;
  TLayerMatch match;
  match.Centre = {float((region.x1 + region.x2) * 0.5), float((region.y1 + region.y2) * 0.5)};
  double lowest = MatchQuality;
  for (int k = 0; k < 2; ++k) {
    // A failed measurement sets the quality to 0; start each one above it.
    MatchQuality = 99.0;
    const TShiftResult found =
        FindShiftByCorrelation(slot, 2, slot, k == 0 ? 1 : 3, region, region, SearchRange, false, -1.0);
    const double quality = MatchQuality;
    lowest = std::min(lowest, quality);
    MatchQuality = lowest;
    if (!(quality > 0.0)) return std::nullopt;
    match.At[size_t(k)] = found.Position;
  }
  return match;
}

void AlignColourLayers(int source, int target, bool red, bool blue, const TLayerMatch& first,
                       const std::optional<TLayerMatch>& second) {
  const int32_t count = second ? 2 : 1;
  const TFloatPoint a2 = second ? second->Centre : TFloatPoint{100, 100};
  for (int k = 0; k < 2; ++k) {
    if (!(k == 0 ? red : blue)) continue;
    const int plane = k == 0 ? 1 : 3;
    const TFloatPoint b2 = second ? second->At[size_t(k)] : TFloatPoint{100, 100};
    AlignColourPlane(source, plane, target, plane, count, first.Centre, a2, first.At[size_t(k)], b2);
  }
}

}  // namespace astrelon
