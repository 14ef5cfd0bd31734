#pragma once
// Reading a FITS file into a slot: header cards, pixel planes and the display
// settings and dark-frame noise of the program's own COMMENT cards.
#include <array>
#include <string>
#include <vector>

#include "store/fits/fits_header.h"
#include "store/image_slot.h"
#include "store/planes/min_max_scan.h"

namespace astrelon {

using TFitsPlanes = std::array<TPlane, 4>;  // planes 1..3

enum class TFitsReadStatus { Ok, OutOfMemory, ReadError };

// Reads the planes of an opened file whose header was accepted: image row 0 is
// file row 0 with `flip` ("Fits umdrehen"), else the last file row. A colour
// image gets all three planes (those missing in the file are blank). `threads`
// workers decode chunks of the file side by side, with a buffer of a quarter
// megabyte each beside the planes. scans[p] gets plane p's smallest and largest
// valid value. A file that is in the page cache is read side by side, any other
// front to back (each worker waits for its chunk's turn to read); FileOrder
// always reads front to back.
enum class TFitsReadOrder { ByCache, FileOrder };
TFitsReadStatus ReadFitsPlanes(const TFitsFile& file, bool flip, int threads, TFitsPlanes& planes,
                               std::array<TMinMaxScan, 4>& scans, TFitsReadOrder order = TFitsReadOrder::ByCache);

// True when the image (or, with headerOnly, the header) was read. A file that
// cannot be opened gives false without a message. A header that is refused
// ("Der Header konnte nicht erkannt werden!") or an image too large for the
// memory leaves the slot's planes and in-use flag as they were; the slot's card
// list holds the cards read. With headerOnly only the cards and the record's
// size, colour flag and dark-frame noise are set (used with the scratch slot 0).
bool LoadFits(int slot, const std::string& fileName, bool headerOnly);

// True when the image loader reads the file with LoadFits: its extension is .fit
// or .fts (.fits and the like count by their first four characters) and no own
// RAW layout claims it.
bool LoadsAsFits(const std::string& fileName);

}  // namespace astrelon
