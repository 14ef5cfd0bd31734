#include "kernels/alignment/determine_shift.h"

#include "core/batch_state.h"
#include "kernels/alignment/disc_centre.h"

namespace astrelon {

TShiftResult DetermineShift(int refSlot, int secondSlot, int selection, double scale, bool isMosaic,
                            TWorkRect searchRect) {
  SetWorkRectFromWindow(refSlot, selection, false);
  if (BatchRunning && BatchDiscMode && WorkRect.x2 - WorkRect.x1 > 100) {
    const TFloatPoint c1 = MeasureDiscCentre(refSlot);
    WorkRect = searchRect;
    const TFloatPoint c2 = MeasureDiscCentre(secondSlot);
    TShiftResult result;
    result.Position = {c2.X - c1.X, c2.Y - c1.Y};
    result.DiscDisplacement = true;
    return result;
  }
  return FindShiftByCorrelation(refSlot, 2, secondSlot, 2, WorkRect, searchRect, 100, isMosaic, scale);
}

}  // namespace astrelon
