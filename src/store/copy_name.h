#pragma once
// The numbered copy name of a file name: "M42.fit" -> "M42_2.fit", "M42_2.fit"
// -> "M42_3.fit", skipping names that are taken.
#include <functional>
#include <string>

namespace astrelon {

// The next numbered copy name of `from`. `numbered` says that the name already
// ends in a copy number (its last digit is counted on); otherwise a "_" among
// the last three characters of the base name followed by a digit (or ending it)
// marks one, and when none does "_" is appended and `addedNumber` is set.
// Names for which `taken` is true are passed over, up to the number 49.
std::string NextCopyName(const std::string& from, bool numbered, bool& addedNumber,
                         const std::function<bool(const std::string&)>& taken);

// A name for a new file: `name` itself when no file of that name exists,
// else the first of its numbered copy names that no file has; "" when 10 000
// tries found none.
std::string FreeCopyFileName(const std::string& name);

}  // namespace astrelon
