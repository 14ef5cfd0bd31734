#pragma once
// Default output names of the master dark/flat tool.
#include <array>
#include <string>

namespace astrelon {

// "Masterdark", "Masterflat", "" and "Multifokus", each with the FITS extension.
extern std::array<std::string, 4> MasterFileNames;

// Builds the names from the setting "Fits Dateiendung"; with a translation file
// the two masters are named by its words (the German names where it has none).
void BuildMasterFileNames();

}  // namespace astrelon
