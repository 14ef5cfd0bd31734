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
  in.PerFrameX = s.CometPerFrameX;
  in.PerFrameY = s.CometPerFrameY;
  in.FirstImage = s.FirstImage;
  CometOffset(in, s.CometShiftX, s.CometShiftY);
}

bool HasCometOffset() { return std::fabs(BatchRun.CometShiftX) > 1e-9f || std::fabs(BatchRun.CometShiftY) > 1e-9f; }

}  // namespace astrelon
