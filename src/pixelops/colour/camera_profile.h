#pragma once
// The camera colour profile: a RAW image's camera RGB is taken through its
// camera's matrix (camera raw to XYZ) and then to display RGB.
#include <span>

#include "pixelops/colour/camera_matrix_table.h"

namespace astrelon {

// The history text and caption of the command that applies the profile.
inline constexpr const char* CameraProfileCaption = "Kamera RAW-Farben nach RGB";

// The matrix m applied to a run of pixels in place, in double precision:
// R' = m11 R + m12 G + m13 B and so on. A pixel with a blank plane becomes blank
// in all three. `vector` takes the four-pixel path, which gives the same bits.
void ApplyCameraMatrixRun(std::span<float> r, std::span<float> g, std::span<float> b, const TMatrix3& m,
                          bool vector);

// Looks up the camera of the slot's "INSTRUME" value, switches a YUV image to RGB,
// applies the camera-profile matrix, converts the XYZ result with ConvertXyzToRgb
// (adjustDisplay passed on), recomputes the histogram and adds the history card.
// A grey image ("Das Bild muss in Farbe sein.") or an unknown camera ("Das
// Farbprofil oder die Kamera [INSTRUME] ist nicht vorhanden.") gives its message,
// changes nothing and returns false.
bool ApplyCameraProfile(int slot, bool adjustDisplay);

// The message for a camera that the table does not know.
void ShowUnknownCameraMessage();

}  // namespace astrelon
