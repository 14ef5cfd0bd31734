#include "store/header_dates.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/number_text.h"
#include "common/pascal_format.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

std::string_view Trim(std::string_view s) {
  const size_t a = s.find_first_not_of(' ');
  if (a == std::string_view::npos) return {};
  const size_t b = s.find_last_not_of(' ');
  return s.substr(a, b - a + 1);
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t p = s.find(sep, start);
    parts.push_back(s.substr(start, p == std::string_view::npos ? std::string_view::npos : p - start));
    if (p == std::string_view::npos) break;
    start = p + 1;
  }
  return parts;
}

std::optional<int> Digits(std::string_view s) {
  s = Trim(s);
  if (s.empty() || s.size() > 9) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

// "y-m-d" or "y:m:d" to "d.m.y"; the year keeps the digits given.
std::string YearFirstToDayFirst(std::string_view date, char sep) {
  const auto p = Split(date, sep);
  if (p.size() != 3) return std::string(date);
  return std::string(Trim(p[2])) + "." + std::string(Trim(p[1])) + "." + std::string(Trim(p[0]));
}

}  // namespace

std::optional<TDateTime> ParseDateText(std::string_view text, bool nineteenHundreds) {
  const auto p = Split(Trim(text), '.');
  if (p.size() != 3) return std::nullopt;
  const auto d = Digits(p[0]), m = Digits(p[1]), y = Digits(p[2]);
  if (!d || !m || !y) return std::nullopt;
  int year = *y;
  if (Trim(p[2]).size() <= 2) year += nineteenHundreds || year >= 50 ? 1900 : 2000;
  TDateTimeParts parts;
  parts.Year = year;
  parts.Month = *m;
  parts.Day = *d;
  return EncodeDateTime(parts);
}

std::optional<TDateTime> ParseTimeText(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return 0.0;
  const auto p = Split(text, ':');
  if (p.size() < 2 || p.size() > 3) return std::nullopt;
  const auto h = Digits(p[0]), n = Digits(p[1]);
  if (!h || !n || *h > 23 || *n > 59) return std::nullopt;
  double seconds = 0;
  if (p.size() == 3) {
    const std::string_view s = Trim(p[2]);
    const auto v = TryStrToFloat(s);
    if (s.empty() || !v || *v < 0 || *v >= 60 || s.find_first_of("eE+-") != std::string_view::npos)
      return std::nullopt;
    seconds = *v;
  }
  return (*h * 3600.0 + *n * 60.0 + seconds) / 86400.0;
}

bool ReadObservationTime(int slot, TDateTime& t) {
  if (slot < 0 || slot >= SlotArraySize) return false;
  std::string date = GetHeaderValue(slot, "DATE-OBS", false);
  std::string time = GetHeaderValue(slot, "TIME-OBS", false);
  if (date.empty() && time.empty()) {
    date = GetHeaderValue(slot, "DATE ", false);
    time = GetHeaderValue(slot, "TIME ", false);
  }
  if (time.empty()) time = GetHeaderValue(slot, "UT    ", false).substr(0, 8);
  const size_t tpos = date.find('T');
  if (tpos != std::string::npos) {
    if (time.empty()) time = date.substr(tpos + 1, 8);
    date = date.substr(0, tpos);
  }
  if (date.empty()) return false;
  if (date.find('-') != std::string::npos) date = YearFirstToDayFirst(date, '-');
  // The old FITS form "DD/MM/YY" names years of the 1900s.
  const bool oldForm = date.find('/') != std::string::npos;
  std::replace(date.begin(), date.end(), '/', '.');
  const auto d = ParseDateText(date, oldForm);
  const auto h = ParseTimeText(time);
  if (!d || !h) return false;
  t = *d + *h;
  return true;
}

TDateTime ParseDateTimeText(std::string_view s) {
  s = Trim(s);
  if (s.size() <= 7) return UnknownDateTime;
  std::string_view date = s, time;
  const size_t tpos = s.find('T');
  if (tpos != std::string_view::npos) {
    date = s.substr(0, tpos);
    time = s.substr(tpos + 1);
  } else if (s.size() > 8 && s[8] == ' ') {
    date = s.substr(0, 8);
    time = s.substr(9);
  } else if (s.size() > 10 && s[10] == ' ') {
    date = s.substr(0, 10);
    time = s.substr(11);
  }
  std::string d(Trim(date));
  if (d.find('-') != std::string::npos)
    d = YearFirstToDayFirst(d, '-');
  else if (d.find(':') != std::string::npos)
    d = YearFirstToDayFirst(d, ':');
  const bool oldForm = d.find('/') != std::string::npos;
  std::replace(d.begin(), d.end(), '/', '.');
  const auto dv = ParseDateText(d, oldForm);
  const auto tv = ParseTimeText(time);
  if (!dv || !tv) return UnknownDateTime;
  return *dv + *tv;
}

double ReadCcdTemperature(int slot) {
  if (slot < 0 || slot >= SlotArraySize || FindHeaderKeyword(slot, "CCD-TEMP") < 0) return UnknownTemperature;
  const auto v = TryStrToFloatDot(GetHeaderValue(slot, "CCD-TEMP", false));
  return v && std::isfinite(*v) ? *v : UnknownTemperature;
}

}  // namespace astrelon
