#pragma once
// Date-time values as days (64-bit float) since 1899-12-30 00:00, the time of day
// as the fraction. -1.0 means unknown; a value above 0.0 counts as known.
#include <optional>
#include <string>

namespace astrelon {

using TDateTime = double;
constexpr TDateTime UnknownDateTime = -1.0;

struct TDateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Nullopt when a field is out of range (month 1..12, day within the month, hour
// 0..23, minute and second 0..59).
std::optional<TDateTime> EncodeDateTime(const TDateTimeParts& p);
// Splits a value into its fields; the time is rounded to the millisecond.
TDateTimeParts DecodeDateTime(TDateTime t);
// "yyyy-mm-dd" and "hh:mm:ss".
std::string FormatIsoDate(TDateTime t);
std::string FormatTimeOfDay(TDateTime t);
// Local date-time of Unix seconds.
TDateTime UnixToLocalDateTime(long long seconds);
// Local modification time of a file; nullopt when it cannot be read.
std::optional<TDateTime> FileModificationTime(const std::string& fileName);

}  // namespace astrelon
