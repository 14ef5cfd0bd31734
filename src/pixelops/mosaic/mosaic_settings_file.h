#pragma once
// ".qcm" files of the colour-mosaic settings: plain text, one value per line:
// the four cells (item index), "Ja"/"Nein" for four rows and then the other four
// cells, the method, pixFilter, the texts of Rmul, Bmul, Bias, the red and blue
// size ratios, G1mul and the network file, highlights and camera profile.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kernels/mosaic/mosaic_settings.h"

namespace astrelon {

// The file filter of the open and save dialogs.
inline constexpr const char* MosaicSettingsFilter = "Astrelon Farb-CCD Mosaik|*.qcm";
// Largest file taken for a ".qcm" file.
constexpr size_t MaxMosaicSettingsBytes = 64 * 1024;

// The settings a file's lines give. The cell lines (and the four extra ones
// after "Ja") must be integers from -1 to 5 and the method line an integer from
// -1 on (above 5 reads as 5); from the method line on, a file that ends early
// gives the defaults: method 0, switches off, the numbers' start texts; the
// network file stays as in `current`. nullopt with the reason in `error`.
std::optional<TMosaicSettings> ParseMosaicSettings(const std::vector<std::string>& lines,
                                                   const TMosaicSettings& current, std::string& error);
// Reads a file into MosaicSettings, all or nothing. False when the file does not
// exist or cannot be read; a file that is refused says why in a message.
bool ReadMosaicSettings(const std::string& fileName);

// The file's lines, ended by CR LF.
std::string MosaicSettingsText(const TMosaicSettings& s);
// The name with its extension replaced by (or extended with) ".qcm".
std::string MosaicSettingsFileName(std::string_view fileName);
// Writes the settings under MosaicSettingsFileName(fileName), replacing the file
// whole or not at all; false with the reason in `error`.
bool WriteMosaicSettings(const std::string& fileName, const TMosaicSettings& s, std::string* error = nullptr);

}  // namespace astrelon
