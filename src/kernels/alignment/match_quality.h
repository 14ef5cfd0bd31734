#pragma once
// The program-wide quality of the last shift measurements: the running minimum
// of the qualities that the measurements (correlation, star centroid, bright
// disc) report. 99 stands for a perfect or unmeasurable match; the batch sets it
// to 99 before it measures a frame and compares it with its limit afterwards.

namespace astrelon {

extern double MatchQuality;

// Lowers MatchQuality to q when q is smaller; a q below 0 or not a number
// counts as 0 (nothing measured), so that the quality stays within 0 .. 99.
void LowerMatchQuality(double q);

}  // namespace astrelon
