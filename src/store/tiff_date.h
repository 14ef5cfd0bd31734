#pragma once
// Date texts of image files as header-card values: the TIFF/EXIF "DateTime"
// text ("2006:03:04 21:05:33", also with "-" or "T") split into its fields, and
// the DATE-OBS ("yyyy-mm-dd") and TIME-OBS ("hh:mm:ss") value texts.
#include <string>
#include <string_view>

namespace astrelon {

// True when the text holds a valid date (year 1900 or later) and time.
bool ParseTiffDateTime(std::string_view text, int& year, int& month, int& day, int& hour, int& minute, int& second);

std::string FormatDateYmd(int year, int month, int day);
std::string FormatTimeHms(int hour, int minute, int second);

}  // namespace astrelon
