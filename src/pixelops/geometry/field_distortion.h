#pragma once
// Field-distortion correction: remaps an image through a radial pincushion or
// barrel polynomial, unwraps a planet's visible disc into longitude and
// latitude, or turns a 180° fisheye image into a cylindrical panorama.
#include <string>

#include "pixelops/geometry/field_distortion_settings.h"

namespace astrelon {

// Computes dst (the image of src's size, normally a copy of src) from src with
// the values of their page. While worker threads compute the rows, the status
// bar shows the percentage done and pending events are processed. Positions
// outside the usable area (0 <= x < W - 0.9, 0 <= y < H - 0.9) give blank
// pixels. False when the slots are unusable.
bool CorrectFieldDistortion(int src, int dst, const TDistortionValues& v);
// The same with DistortionSettings; throws std::invalid_argument naming the text
// when a value of the page is not a number.
bool CorrectFieldDistortion(int src, int dst);

// The text of a field of the settings.
const std::string& DistortionFieldText(const TDistortionSettings& s, TDistortionField field);

}  // namespace astrelon
