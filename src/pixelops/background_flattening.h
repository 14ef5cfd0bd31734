#pragma once
// Background flattening: the smooth sky background of an image estimated by a
// separable running-percentile filter (rows, then columns), each window sample
// weighted toward the centre value by a Gaussian of the radius, then smoothed
// by fGauss; the background is subtracted (plus a low level of it) or, for the
// filter dialog, kept.
#include <cstdint>
#include <string>

#include "filters/filter_poll.h"

namespace astrelon {

// Flattens the rectangle x1, y1, x2, y2 (clamped into the image, at least 2 x 2)
// of every selected plane of `destination`, which holds a copy of `source` (or
// is the source itself). The window reaches radius pixels (1..167) with a
// sample step that grows with the radius and the rectangle's share of the
// image; `fraction` is the percentile taken (0.25 = the 25 % value). With
// `backgroundOnly` the destination keeps the smooth background itself;
// otherwise it gets source - background + the background's 35 % level inside
// the rectangle, blank or backgroundless pixels keeping the source. `masked`
// (the mask dialog's mode) is not offered yet and counts as off. Progress under
// `title` in the window of `progressSlot`; `poll` (optional) adds its stop
// conditions to the abort flag.
void FlattenBackgroundMasked(int source, int destination, float radius, int32_t x1, int32_t y1, int32_t x2,
                             int32_t y2, bool progress, bool backgroundOnly, bool masked, const std::string& title,
                             int progressSlot, double fraction, TFilterPoll* poll = nullptr);

}  // namespace astrelon
