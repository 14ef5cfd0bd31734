#pragma once
// Saving a slot as TIFF in the value range the user chose: scaled to its
// percentile levels, linear while a batch runs, or as the window shows it.
#include <string>

namespace astrelon {

// The entry point for saving a slot as TIFF with a type code. The value range:
// with "TIFF skalieren" the 0.05 % and 99.95 % levels over the planes; while a
// batch runs 0..65535; otherwise what the window shows (the display stretch and
// palette baked into a temporary copy, 0..65535). Returns true whenever it
// returns; a failed write arrives as TTiffError. The temporary copy is always freed.
bool SaveTiffScaled(int slot, int tiffCode, const std::string& fileName);

}  // namespace astrelon
