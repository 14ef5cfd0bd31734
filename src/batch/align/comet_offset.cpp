#include "batch/align/comet_offset.h"

#include <cmath>

#include "batch/run/batch_run_state.h"

namespace astrelon {

void CometOffset(const TCometOffsetInput& in, float& shiftX, float& shiftY) {
  if (in.ByTimestamp && in.CurrentTime >= 0) {
    const double minutes = (in.CurrentTime - in.TargetTimeStart) * 1440.0;
    shiftX = float(minutes * in.PerFrameX);
    shiftY = float(minutes * in.PerFrameY);
  } else if (in.SeriesNumber >= 0 && in.TargetSeriesNumber >= 0) {
    const double k = double(in.SeriesNumber) - double(in.TargetSeriesNumber);
    shiftX = float(k * in.PerFrameX);
    shiftY = float(k * in.PerFrameY);
  } else if (!in.FirstImage) {
    shiftX = float(shiftX + in.PerFrameX);
    shiftY = float(shiftY + in.PerFrameY);
  }
}

void UpdateCometOffset() {
  TBatchRunState& s = BatchRun;
  TCometOffsetInput in;
  in.ByTimestamp = s.ByTimestamp;
  in.CurrentTime = s.CurrentTime;
  in.TargetTimeStart = s.TargetTimeStart;
  in.SeriesNumber = s.SeriesNumber;
  in.TargetSeriesNumber = s.TargetSeriesNumber;
  in.PerFrameX = s.CometRunX;
  in.PerFrameY = s.CometRunY;
  in.FirstImage = s.FirstImage;
  CometOffset(in, s.CometShiftX, s.CometShiftY);
  // The two images of the computation are aligned on their stars alone.
  if (s.CometCompute) s.CometShiftX = s.CometShiftY = 0;
}

bool HasCometOffset() { return std::fabs(BatchRun.CometShiftX) > 1e-9f || std::fabs(BatchRun.CometShiftY) > 1e-9f; }

bool CometRun() {
  const TBatchRunState& s = BatchRun;
  return !s.CometCompute && (std::fabs(s.CometRunX) > 1e-9 || std::fabs(s.CometRunY) > 1e-9);
}

TFloatPoint ReferencePointOffset() {
  const TBatchRunState& s = BatchRun;
  if (s.UseShiftList && s.InShiftList) return {0, 0};
  return {s.CometShiftX, s.CometShiftY};
}

}  // namespace astrelon
