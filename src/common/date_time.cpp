#include "common/date_time.h"

#include <sys/stat.h>

#include <cmath>
#include <ctime>

namespace astrelon {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian calendar).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + (long long)doe - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = int(doy - (153 * mp + 2) / 5 + 1);
  m = int(mp < 10 ? mp + 3 : mp - 9);
  y = int(yoe + era * 400 + (m <= 2));
}

constexpr long long UnixEpochDays = 25569;  // 1970-01-01 as a day number

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : days[m - 1];
}

std::string TwoDigits(int v) { return std::string{char('0' + v / 10 % 10), char('0' + v % 10)}; }

}  // namespace

std::optional<TDateTime> EncodeDateTime(const TDateTimeParts& p) {
  if (p.Year < 1 || p.Year > 9999 || p.Month < 1 || p.Month > 12 || p.Day < 1 || p.Day > DaysInMonth(p.Year, p.Month))
    return std::nullopt;
  if (p.Hour < 0 || p.Hour > 23 || p.Minute < 0 || p.Minute > 59 || p.Second < 0 || p.Second > 59 ||
      p.Millisecond < 0 || p.Millisecond > 999)
    return std::nullopt;
  const double days = double(DaysFromCivil(p.Year, unsigned(p.Month), unsigned(p.Day)) + UnixEpochDays);
  const double time = (p.Hour * 3600000.0 + p.Minute * 60000.0 + p.Second * 1000.0 + p.Millisecond) / 86400000.0;
  // Days before 1899-12-30 carry the time as a positive fraction after the sign.
  return days >= 0 ? days + time : days - time;
}

TDateTimeParts DecodeDateTime(TDateTime t) {
  TDateTimeParts p;
  if (!std::isfinite(t) || std::fabs(t) > 3e6) return p;
  long long ms = (long long)std::llround(std::fabs(t) * 86400000.0);
  long long days = ms / 86400000;
  long long msOfDay = ms % 86400000;
  if (t < 0) days = -days;
  CivilFromDays(days - UnixEpochDays, p.Year, p.Month, p.Day);
  p.Hour = int(msOfDay / 3600000);
  p.Minute = int(msOfDay / 60000 % 60);
  p.Second = int(msOfDay / 1000 % 60);
  p.Millisecond = int(msOfDay % 1000);
  return p;
}

std::string FormatIsoDate(TDateTime t) {
  const TDateTimeParts p = DecodeDateTime(t);
  return TwoDigits(p.Year / 100) + TwoDigits(p.Year % 100) + "-" + TwoDigits(p.Month) + "-" + TwoDigits(p.Day);
}

std::string FormatTimeOfDay(TDateTime t) {
  const TDateTimeParts p = DecodeDateTime(t);
  return TwoDigits(p.Hour) + ":" + TwoDigits(p.Minute) + ":" + TwoDigits(p.Second);
}

TDateTime UnixToLocalDateTime(long long seconds) {
  const std::time_t tt = std::time_t(seconds);
  std::tm tm{};
  if (!localtime_r(&tt, &tm)) return UnknownDateTime;
  TDateTimeParts p{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                   tm.tm_sec > 59 ? 59 : tm.tm_sec, 0};
  return EncodeDateTime(p).value_or(UnknownDateTime);
}

std::optional<TDateTime> FileModificationTime(const std::string& fileName) {
  struct stat st {};
  if (stat(fileName.c_str(), &st) != 0) return std::nullopt;
  const TDateTime t = UnixToLocalDateTime((long long)st.st_mtime);
  if (t == UnknownDateTime) return std::nullopt;
  return t;
}

}  // namespace astrelon
