#pragma once
// Merging a long and a short exposure of the same scene into one image with a
// larger brightness range: the short exposure is scaled onto the long one by a
// gain and an offset measured from their common pixels, and the two are
// blended with weights that give the short exposure where the long one nears
// saturation and the long one where the short one is faint.

namespace astrelon {

struct TExposureCalibration {
  double Gain = 1;    // k: long = (short + Offset) * k
  double Offset = 0;  // o, in the short exposure's units
  bool SourceIsLong = false;
};

// `source` holds one exposure, `result` the other on the same grid (blank where
// it has none). The merge is written into `result` over the common area of
// both; pixels blank in either are left as they are. Both images' minimum and
// maximum are brought up to date first.
TExposureCalibration CombineExposures(int source, int result);

}  // namespace astrelon
