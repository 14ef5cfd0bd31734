#pragma once
// One plane of a colour image as a grey image of its own.
#include <string>

namespace astrelon {

// The name prefix of plane p (1..3): "Rot_von_", "Gruen_von_", "Blau_von_" for an
// RGB image, "Y_von_", "U_von_", "V_von_" for an image in the YUV model.
std::string PlanePrefix(int colorModel, int plane);

// Plane p of colour slot `source` into the free slot `result`: grey, one plane,
// the source's header cards made two-axis, its display record with display type
// grey, the name `folder` + prefix + `file name` of the source;
// minimum, maximum and histogram computed, the black and white points clamped
// into the plane's value range. No history card and no window (the caller
// shows it). False (nothing done) unless
// the source is a colour image and the result a free slot 1..49.
bool ExtractColourPlane(int source, int plane, int result);

}  // namespace astrelon
