#pragma once
// Reading a TIFF file into an image slot: 1..8-bit images through libtiff's RGBA
// decoding (values 0..255), 16-bit samples as they are, 32-bit floats times 65536,
// 32-bit integers divided by 65536; grey or RGB; the first directory only; with
// the Make, Model, DateTime and Artist tags as header cards.
#include <string>

namespace astrelon {

// Reads the file into the slot; true on success. On failure the error has been
// shown and the slot is left as it was.
bool LoadTiffImage(int slot, const std::string& fileName);

}  // namespace astrelon
