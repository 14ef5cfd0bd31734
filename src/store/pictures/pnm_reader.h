#pragma once
// Binary PGM ("P5") and PPM ("P6") files with 8-bit or 16-bit samples.
#include <string>

namespace astrelon {

// Reads the file into the slot; a P6 file whose pixels are all grey becomes a
// one-plane image. Shows "Der Header konnte nicht erkannt werden!" for a header
// it does not accept or a file too short for the size its header gives.
bool LoadPnmFile(int slot, const std::string& fileName);

}  // namespace astrelon
