#pragma once
// Observation time and CCD temperature from a slot's header cards, and the
// date-time texts of cameras ("2009:05:17 22:14:05").
#include <optional>
#include <string>
#include <string_view>

#include "common/date_time.h"

namespace astrelon {

// A date "dd.mm.yyyy" or "dd.mm.yy" (also with one-digit day and month). A
// two-digit year below 50 is 20yy, else 19yy; with `nineteenHundreds` (the old
// FITS form "DD/MM/YY") it is always 19yy.
std::optional<TDateTime> ParseDateText(std::string_view text, bool nineteenHundreds = false);
// A time "hh:nn", "hh:nn:ss" or "hh:nn:ss.fff"; the empty text is midnight.
std::optional<TDateTime> ParseTimeText(std::string_view text);

// Date and time from "DATE-OBS"/"TIME-OBS" (else "DATE"/"TIME", the time also
// from "UT"); a date may hold the time after "T" and may be written year first
// with "-". False (t unchanged) when there is no date or it does not convert.
bool ReadObservationTime(int slot, TDateTime& t);
// One text holding date and time, split at "T" or at a blank in the 9th or 11th
// place, date parts separated by "-" or ":" year first. Texts of 7 characters
// or less and texts that do not convert give UnknownDateTime.
TDateTime ParseDateTimeText(std::string_view s);

constexpr double UnknownTemperature = -999.0;
// The number of the card "CCD-TEMP"; UnknownTemperature when the card is missing
// or holds no number.
double ReadCcdTemperature(int slot);

}  // namespace astrelon
