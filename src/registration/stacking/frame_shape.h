#pragma once
// The shape of a calibration frame (width, height, plane count), which every
// frame of a master or a stack combined without alignment must share with the
// first one: a frame of another shape would be cut to the first frame's size
// or leave part of the result blank, so it is left out with a message.
#include <cstdint>
#include <string>

#include "store/fits/fits_header.h"
#include "store/image_slot.h"

namespace astrelon {

struct TFrameShape {
  int32_t Width = 0, Height = 0, Planes = 0;
  static TFrameShape Of(const TImageSlot& im) { return {im.Width, im.Height, im.PlaneCount}; }
  // The shape of a FITS file's image as the loader makes it (a colour image has three planes).
  static TFrameShape Of(const TFitsImageLayout& l) { return {l.Width, l.Height, l.IsColor ? 3 : 1}; }
  bool operator==(const TFrameShape&) const = default;
};

// The message that leaves the frame of this file out: the name, "\r\n" and why.
std::string OtherFrameShapeText(const std::string& fileName);

// The message of a run that cannot start for want of free slots.
std::string TooFewSlotsText();

// The message of a stack run that could read fewer than three of its frames.
std::string TooFewFramesText(int combined);

}  // namespace astrelon
