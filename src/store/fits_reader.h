#pragma once
// Reading a FITS file into a slot: header cards, pixel planes and the display
// settings and dark-frame noise of the program's own COMMENT cards.
#include <string>

namespace astrelon {

// True when the image (or, with headerOnly, the header) was read. A file that
// cannot be opened gives false without a message. A header that is refused
// ("Der Header konnte nicht erkannt werden!") or an image too large for the
// memory leaves the slot's planes and in-use flag as they were; the slot's card
// list holds the cards read. With headerOnly only the cards and the record's
// size, colour flag and dark-frame noise are set (used with the scratch slot 0).
bool LoadFits(int slot, const std::string& fileName, bool headerOnly);

}  // namespace astrelon
