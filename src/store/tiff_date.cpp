#include "store/tiff_date.h"

#include <array>
#include <vector>

namespace astrelon {

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr std::array<int, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[size_t(m - 1)];
}

// Splits at any of the separators; every part must be 1..4 digits.
bool SplitNumbers(std::string_view s, std::string_view separators, std::vector<int>& out) {
  out.clear();
  int value = 0, digits = 0;
  for (char c : s) {
    if (c >= '0' && c <= '9') {
      if (++digits > 4) return false;
      value = value * 10 + (c - '0');
    } else if (separators.find(c) != std::string_view::npos) {
      if (digits == 0) return false;
      out.push_back(value);
      value = digits = 0;
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  out.push_back(value);
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\0')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

std::string TwoDigits(int v) { return std::string{char('0' + v / 10 % 10), char('0' + v % 10)}; }

}  // namespace

bool ParseTiffDateTime(std::string_view text, int& year, int& month, int& day, int& hour, int& minute,
                       int& second) {
  if (text.size() <= 7) return false;
  size_t split = text.find('T');
  if (split == std::string_view::npos) {
    if (text.size() > 8 && text[8] == ' ')
      split = 8;
    else if (text.size() > 10 && text[10] == ' ')
      split = 10;
  }
  const std::string_view datePart = Trim(text.substr(0, split));
  const std::string_view timePart = split == std::string_view::npos ? std::string_view{} : Trim(text.substr(split + 1));

  std::vector<int> n;
  if (datePart.find_first_of("-:") != std::string_view::npos) {
    if (!SplitNumbers(datePart, "-:", n) || n.size() != 3) return false;
    year = n[0], month = n[1], day = n[2];
  } else {
    if (!SplitNumbers(datePart, ".", n) || n.size() != 3) return false;
    day = n[0], month = n[1], year = n[2];
    if (year < 100) year += year < 50 ? 2000 : 1900;
  }
  if (year < 1900 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;

  hour = minute = second = 0;
  if (!timePart.empty()) {
    std::string_view t = timePart;
    const size_t dot = t.find('.');  // fractions of a second are dropped
    if (dot != std::string_view::npos) t = t.substr(0, dot);
    if (!SplitNumbers(t, ":", n) || n.size() < 2 || n.size() > 3) return false;
    hour = n[0], minute = n[1], second = n.size() == 3 ? n[2] : 0;
    if (hour > 23 || minute > 59 || second > 59) return false;
  }
  return true;
}

std::string FormatDateYmd(int year, int month, int day) {
  std::string y = std::to_string(year);
  while (y.size() < 4) y.insert(y.begin(), '0');
  return y + "-" + TwoDigits(month) + "-" + TwoDigits(day);
}

std::string FormatTimeHms(int hour, int minute, int second) {
  return TwoDigits(hour) + ":" + TwoDigits(minute) + ":" + TwoDigits(second);
}

}  // namespace astrelon
