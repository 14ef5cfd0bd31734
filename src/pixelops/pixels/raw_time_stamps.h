#pragma once
// The capture times of camera RAW files as a text listing.
#include <string>
#include <vector>

namespace astrelon {

// "name DATE TIME" for a slot's header: characters 12 .. 21 of its "DATE-OBS"
// card and, when there is one, 12 .. 19 of its "TIME-OBS" card (shorter cards
// give what they hold), ended by CR LF; empty without a "DATE-OBS" card.
std::string TimeStampLine(int slot, const std::string& name);

// Each file in turn loaded as camera RAW into the lowest free slot, which is
// freed again afterwards; the lines of the files that loaded and carry a date.
// Files are skipped while no slot is free.
std::string ListRawTimeStamps(const std::vector<std::string>& fileNames);

}  // namespace astrelon
