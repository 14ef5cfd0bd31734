#pragma once
// The motion of a comet from its positions in two images of a series: the
// second position is carried into the first image's frame by the star points
// of the second image's alignment, and the difference gives the motion per
// series image and per minute of observation time.
#include <array>
#include <cstdint>
#include <string>

#include "kernels/alignment/float_point.h"

namespace astrelon {

struct TCometMotionInput {
  TFloatPoint C1, C2;                // the comet in the first and in the second image
  std::array<TFloatPoint, 2> A, B;   // star points in the first and in the second image
  int32_t Marks = 1;                 // 1: a shift; 2: shift, rotation and scale
  int32_t Series1 = 0, Series2 = 0;  // series numbers
  double Time1 = 0, Time2 = 0;       // observation times, days
  bool ByTimestamp = false;
};

struct TCometMotion {
  bool Valid = false;
  std::string Error;  // the message when it is not
  double PerFrameX = 0, PerFrameY = 0;
  double PerMinuteX = 0, PerMinuteY = 0;
};

// With k the difference of series numbers and t that of times in minutes:
// per series image (C1 - C2) / k and per minute that over t / k; by time
// stamp per minute (C1 - C2) / t and per series image that times t / k. Equal
// series numbers (or, by time stamp, equal times) give their message.
TCometMotion ComputeCometMotion(const TCometMotionInput& in);

// The motion of the run's two comet images (BatchRun's comet fields) into its
// per-frame and per-minute values; CometValuesSet when one was found. The
// message of a failure is shown.
TCometMotion ApplyCometMotion();

}  // namespace astrelon
