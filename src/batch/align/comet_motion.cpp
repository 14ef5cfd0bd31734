#include "batch/align/comet_motion.h"

#include <cmath>

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_captions.h"
#include "common/engine_ui.h"

namespace astrelon {

TCometMotion ComputeCometMotion(const TCometMotionInput& in) {
  TCometMotion m;
  double c2x = in.C2.X, c2y = in.C2.Y;
  if (in.Marks >= 2) {
    const double ax = double(in.A[1].X) - in.A[0].X, ay = double(in.A[1].Y) - in.A[0].Y;
    const double bx = double(in.B[1].X) - in.B[0].X, by = double(in.B[1].Y) - in.B[0].Y;
    const double la = std::hypot(ax, ay), lb = std::hypot(bx, by);
    const double s = la > 0 ? lb / la : 1.0;
    const double theta = std::atan2(by, bx) - std::atan2(ay, ax);
    const double dx = c2x - in.B[0].X, dy = c2y - in.B[0].Y;
    const double r = s > 0 ? std::hypot(dx, dy) / s : 0.0;
    const double phi = std::atan2(dy, dx) - theta;
    c2x = in.A[0].X + r * std::cos(phi);
    c2y = in.A[0].Y + r * std::sin(phi);
  } else {
    c2x += double(in.A[0].X) - in.B[0].X;
    c2y += double(in.A[0].Y) - in.B[0].Y;
  }
  const double dx = double(in.C1.X) - c2x, dy = double(in.C1.Y) - c2y;
  const double k = double(in.Series2) - double(in.Series1);
  const double t = (in.Time2 - in.Time1) * 1440.0;
  if (!in.ByTimestamp) {
    if (k == 0) {
      m.Error = BatchCaption(TBatchCaption::CometSameSeries);
      return m;
    }
    m.PerFrameX = dx / k;
    m.PerFrameY = dy / k;
    const double minutesPerFrame = t / k;
    if (std::fabs(minutesPerFrame) > 1e-10) {
      m.PerMinuteX = m.PerFrameX / minutesPerFrame;
      m.PerMinuteY = m.PerFrameY / minutesPerFrame;
    }
  } else {
    if (std::fabs(t) < 1e-10) {
      m.Error = BatchCaption(TBatchCaption::CometSameTime);
      return m;
    }
    m.PerMinuteX = dx / t;
    m.PerMinuteY = dy / t;
    if (k != 0) {
      m.PerFrameX = m.PerMinuteX * t / k;
      m.PerFrameY = m.PerMinuteY * t / k;
    }
  }
  m.Valid = std::isfinite(m.PerFrameX) && std::isfinite(m.PerFrameY) && std::isfinite(m.PerMinuteX) &&
            std::isfinite(m.PerMinuteY);
  return m;
}

TCometMotion ApplyCometMotion() {
  TBatchRunState& s = BatchRun;
  TCometMotionInput in;
  in.C1 = {s.CometPositionA.x, s.CometPositionA.y};
  in.C2 = {s.CometPositionB.x, s.CometPositionB.y};
  for (int k = 0; k < 2; ++k) {
    in.A[size_t(k)] = {s.CometStarPointsA[size_t(k)].x, s.CometStarPointsA[size_t(k)].y};
    in.B[size_t(k)] = {s.CometStarPointsB[size_t(k)].x, s.CometStarPointsB[size_t(k)].y};
  }
  in.Marks = s.MarkCount >= 2 ? 2 : 1;
  in.Series1 = s.CometSeriesA;
  in.Series2 = s.CometSeriesB;
  in.Time1 = s.CometTimeA;
  in.Time2 = s.CometTimeB;
  in.ByTimestamp = s.ByTimestamp;
  const TCometMotion m = ComputeCometMotion(in);
  if (!m.Error.empty()) EngineUi().ShowMessage(m.Error);
  if (!m.Valid) return m;
  s.CometPerFrameX = m.PerFrameX;
  s.CometPerFrameY = m.PerFrameY;
  s.CometPerMinuteX = m.PerMinuteX;
  s.CometPerMinuteY = m.PerMinuteY;
  s.CometValuesSet = true;
  return m;
}

}  // namespace astrelon
