#pragma once
// The next file name of a numbered series: the number before the extension
// counted up by one.
#include <string>

namespace astrelon {

// Counts the number before the extension (taken from the last path component)
// up by one, in place, carrying over at most three digits: "Bild0009.fit" gives
// "Bild0010.fit", "img9.fit" "img10.fit", "x199" "x200". False, with the name
// unchanged, when the name does not end in a digit before its extension or
// when its last three digits are 999 ("b999.fit", "1999.fit").
bool IncrementSeriesFileName(std::string& fileName);

}  // namespace astrelon
