#include "common/series_file_name.h"

#include "common/file_extension.h"

namespace astrelon {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IncrementSeriesFileName(std::string& fileName) {
  const size_t partStart = fileName.size() - FileNamePart(fileName).size();
  const size_t dot = fileName.rfind('.');
  const size_t end = dot != std::string::npos && dot >= partStart ? dot : fileName.size();
  // Digit `back` places before the extension (1 = the last one), or 0.
  auto digitAt = [&](size_t back) -> char {
    return end >= partStart + back && IsDigit(fileName[end - back]) ? fileName[end - back] : 0;
  };
  const char d1 = digitAt(1), d2 = digitAt(2), d3 = digitAt(3);
  if (!d1) return false;
  if (d1 < '9') {
    ++fileName[end - 1];
    return true;
  }
  if (!d2) {
    fileName.replace(end - 1, 1, "10");
    return true;
  }
  if (d2 < '9') {
    ++fileName[end - 2];
    fileName[end - 1] = '0';
    return true;
  }
  if (!d3) {
    fileName.replace(end - 2, 2, "100");
    return true;
  }
  if (d3 == '9') return false;
  ++fileName[end - 3];
  fileName[end - 2] = fileName[end - 1] = '0';
  return true;
}

}  // namespace astrelon
