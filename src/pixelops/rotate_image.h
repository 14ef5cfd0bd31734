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
// blank in every plane; the others are interpolated with `kind`. False when the
// slots are unusable.
bool RotateImage(int src, int dst, int kind, double angle, int framing);

// The sampler of the rotation: value of a plane at a real position with an
// interpolation kind, blank neighbours skipped. The program-wide interpolation
// installs itself here; without it the rotation samples bilinearly.
extern float (*InterpolatePixelHook)(int slot, int plane, float x, float y, int kind);

// Bilinear sample over the 2 x 2 cell, valid neighbours renormalised; blank when
// their weight is 0.3 or less. Negative positions count as 0.
float SampleBilinear(int slot, int plane, float x, float y);

}  // namespace astrelon
