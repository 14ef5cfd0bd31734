#pragma once
// Margins typed for a border, and the fixed-size crop: a frame of the requested
// width and height centred on a point, cut out of an image and padded with blank
// pixels where it lies outside.
#include <cstdint>
#include <optional>
#include <string>

#include "store/image_store.h"

namespace astrelon {

// A margin text as an integer from 0 to 14999; nullopt otherwise.
std::optional<int32_t> ParseMargin(const std::string& text);

enum class TCropHeightStatus { Valid, OutOfRange, NotANumber, ZeroRatio };

struct TCropHeight {
  TCropHeightStatus Status = TCropHeightStatus::NotANumber;
  int32_t Height = 1;  // clamped to 1..32767 in every case
  std::string Label;   // the derived height of a ratio ("480"); empty for a plain height
  bool Valid() const { return Status == TCropHeightStatus::Valid; }
};

// The crop height from its text: "a:b" gives width * b div a (64-bit), anything
// else is the height itself. Valid when 1 <= height < 32768.
TCropHeight ParseCropHeight(const std::string& text, int32_t width);

// The frame of a w x h crop centred on (cx, cy), inclusive corners
// (x1 = cx - w div 2, x2 = x1 + w - 1, likewise for y).
TRectI CropFrameRect(int32_t cx, int32_t cy, int32_t w, int32_t h);

// Cuts `frame` out of src into the free slot dst: the part inside the image is
// copied (CropImageRect), the parts outside become blank margins, so that dst
// holds exactly the frame's size. `clipped` receives the copied rectangle.
// False, with dst unchanged, when the frame lies wholly outside the image.
bool CutFixedSize(int src, int dst, const TRectI& frame, TRectI& clipped);

}  // namespace astrelon
