#pragma once
// ".qzk" files of the field-distortion settings: plain text, one value per line,
// the numbers as typed:
//   Kissen:   A, B, C, D, centre X, centre Y, "Kissen", "nurH" or empty
//   Planet:   width, factor, empty, empty, centre X, centre Y, "Planet", limb contrast
//   Panorama: width, factor, empty, empty, centre X, centre Y, "Panorama", horizon
#include <string>
#include <string_view>
#include <vector>

#include "pixelops/geometry/field_distortion_settings.h"

namespace astrelon {

// Applies a file's lines to the settings in two passes. First the page: a file
// that ends within its first four lines selects "Kissenentzerrung" with the
// centre at 0.5; otherwise lines 5 and 6 give the centre, and a file that ends
// there selects "Kissenentzerrung"; otherwise line 7 names the page and line 8
// its switch or value ("Kissen": "nurH" checks "Nur horizontal", without line 8
// the horizon goes back to "0.5"; "Planet": the limb contrast, "3.0" without;
// "Panorama": the horizon, "0.5" without); any other word keeps the page. Then
// the first lines give the values of the page found: A to D, or width and
// factor; lines the file lacks take the dialog's defaults.
void ApplyDistortionLines(const std::vector<std::string>& lines, TDistortionSettings& s);
// The name with its extension replaced by (or extended with) ".qzk".
std::string DistortionSettingsFileName(std::string_view fileName);
// Reads DistortionSettingsFileName(fileName) into `s`; false, and nothing
// changed, when the file does not exist or cannot be read.
bool ReadDistortionSettings(const std::string& fileName, TDistortionSettings& s);
// Reads a file into DistortionSettings (the batch's way in) and tells an open
// dialog; false when the file does not exist or cannot be read.
bool LoadDistortionSettings(const std::string& fileName);
// The eight lines of the current page.
std::string DistortionSettingsText(const TDistortionSettings& s);
// Writes the settings under DistortionSettingsFileName(fileName), replacing the
// file whole or not at all; false with the reason in `error`.
bool WriteDistortionSettings(const std::string& fileName, const TDistortionSettings& s, std::string* error = nullptr);

}  // namespace astrelon
