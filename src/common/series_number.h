#pragma once
// The number of a frame in a series, taken from its file name, and the name of
// the frame that follows it.
#include <cstdint>
#include <string>

namespace astrelon {

// The number formed by the trailing digits of the name without folder and
// extension ("/d/light_0012.fit" gives 12); -1 when there are none or they do
// not fit in 32 bits.
int32_t GetSeriesNumber(const std::string& fileName);

// Counts the number before the extension up by one, in place, on its last three
// digits only: "Bild0009.fit" becomes "Bild0010.fit", "img9" "img10", "x199"
// "x200". False, with the name unchanged, when the name does not end in a digit
// or its last three characters are the digits 999 ("b999.fit").
bool IncrementSeriesFileName(std::string& fileName);

}  // namespace astrelon
