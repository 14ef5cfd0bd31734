#pragma once
// Combining a work image into the run's target without marks: pixel by pixel
// over the part both images cover, or, when the image has a comet offset or a
// listed shift, through the two-image combination with that shift.
#include <cstdint>

namespace astrelon {

// Add, Min or Max of `work` into `target` over the smaller width and height:
// a colour target takes the image plane by plane (a grey image's plane for
// every plane), a grey target the image's plane 1. Add: a blank target pixel
// takes the image's value, else a valid value is added; Min, Max: a valid
// smaller or larger value replaces, and a valid value fills a blank pixel.
// Rows run on worker threads; every pixel is computed alike whatever the split.
void CombinePixelwise(int target, int work, int32_t mode);

// The combination of the current image into the target without marks, with
// the comet offset or, for a file of the loaded shift list, its listed points
// (which hold the offset they were combined with); the CCD temperature enters
// the run's mean.
void CombineWithoutMarks();

}  // namespace astrelon
