#pragma once
// Default output names of the master dark/flat tool.
#include <array>
#include <string>

namespace astrelon {

// "Masterdark", "Masterflat", "" and "Multifokus", each with the FITS extension.
extern std::array<std::string, 4> MasterFileNames;

// Builds the names from the setting "Fits Dateiendung".
void BuildMasterFileNames();

}  // namespace astrelon
