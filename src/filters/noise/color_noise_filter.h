#pragma once
// Colour-noise filter ("Farbrauschen filtern"): a colour image is smoothed in
// its two colour-difference planes only (U and V of the YUV model), with a
// selective Gaussian that averages only neighbours close in value, so that the
// brightness and the edges between colours stay.
#include "kernels/gauss/filter_poll.h"
#include "store/image_store.h"

namespace astrelon {

// Smooths planes 2 and 3 of `source` into `destination` (a copy of it) inside
// `rect`: a colour image in the RGB model is converted to YUV for the time of
// the filter (source and destination), then back. Neighbours count when they
// differ from the centre by less than threshold^2 x (range of plane 1) / 10000;
// `threshold` is "Schwelle" (0..100), `radius` in pixels. A one-plane image is
// left alone. False when the poll stopped the run (FilterAborted is then set
// when the abort flag stopped it).
bool FilterColorNoise(int source, int destination, const TWorkRect& rect, float radius, float threshold,
                      TFilterPoll& poll);

}  // namespace astrelon
