#pragma once
// Reading a FITS file into a slot: header cards, pixel planes and the display
// settings and dark-frame noise of the program's own COMMENT cards.
#include <array>
#include <string>
#include <vector>

#include "store/fits/fits_header.h"
#include "store/image_slot.h"

namespace astrelon {

using TFitsPlanes = std::array<TPlane, 4>;  // planes 1..3

enum class TFitsReadStatus { Ok, OutOfMemory, ReadError };

// Reads the planes of an opened file whose header was accepted: image row 0 is
// file row 0 with `flip` ("Fits umdrehen"), else the last file row. A colour
// image gets all three planes (those missing in the file are blank). Only a few
// megabytes are used beside the planes.
TFitsReadStatus ReadFitsPlanes(const TFitsFile& file, bool flip, TFitsPlanes& planes);

// True when the image (or, with headerOnly, the header) was read. A file that
// cannot be opened gives false without a message. A header that is refused
// ("Der Header konnte nicht erkannt werden!") or an image too large for the
// memory leaves the slot's planes and in-use flag as they were; the slot's card
// list holds the cards read. With headerOnly only the cards and the record's
// size, colour flag and dark-frame noise are set (used with the scratch slot 0).
bool LoadFits(int slot, const std::string& fileName, bool headerOnly);

}  // namespace astrelon
