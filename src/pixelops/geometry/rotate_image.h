#pragma once
// Rotation of an image about its centre into a result slot.
#include <cstdint>

namespace astrelon {

// How the rotated image is framed.
enum class TRotateFraming : int32_t {
  KeepSize = 0,     // the size stays
  FullImage = 1,    // the bounding box of the rotated image
  Crop = 2,         // the largest centred rectangle of the old aspect ratio inside the rotated image
  CropScaled = 3,   // as Crop, then scaled back to the source size
};

// Rotates the image of src by `angle` degrees (counter-clockwise on the screen)
// about its centre into dst, which must be in use (normally a copy of src) and
// differ from src. dst's planes are reallocated to the framed size. A destination
// pixel whose source point lies outside -0.5 .. size - 0.5 on either axis is
// blank in every plane; the others are sampled with interpolation kind `kind`
// (InterpolatePixel, for a colour image InterpolatePixelRgb), which is the
// program-wide kind while the rotation runs. False when the slots are unusable
// or the angle lies beyond the angle limit (InAngleRange); std::bad_alloc, with
// nothing changed, when the framed result does not fit in the free memory.
bool RotateImage(int src, int dst, int kind, double angle, int framing);

}  // namespace astrelon
