#pragma once
// A master's plain mean read straight from the frames' FITS files, a few rows
// at a time: each worker takes a band of rows, reads those rows of every frame
// in list order and adds them into sums and counts that stay in its cache, then
// writes the band's mean into the target. No frame is loaded as a whole. Every
// pixel adds its frames in list order with AddRowToMean, as the mean of frames
// loaded into slots does, so the result is the same to the last bit whatever
// the number of workers.
#include <string>
#include <vector>

#include "store/image_slot.h"

namespace astrelon {

enum class TMeanRows {
  Done,
  Aborted,     // the batch's abort flag was set: the target holds no mean
  ReadFailed,  // a file no longer opens, has another shape or cannot be read
};

// The target holds the first frame's values (the first frame loaded into a
// slot); `files` are the later frames, FITS files of the target's shape, in list
// order. With a flat-dark its value is subtracted where the dark has the pixel
// (rows and columns beyond the dark count nothing). With `difference` (a plane
// of the target's size) plane `differencePlane` of the first frame minus the
// second (files[0]) is written there as a plain dark subtraction makes it, for
// the noise of the first two darks. Runs on `threads` workers and processes
// pending messages while they work.
TMeanRows MeanOfFitsRows(int target, const std::vector<std::string>& files, const TImageSlot* dark, int threads,
                         TPlane* difference = nullptr, int differencePlane = 1);

}  // namespace astrelon
