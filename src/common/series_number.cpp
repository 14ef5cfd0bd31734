#include "common/series_number.h"

#include "common/file_extension.h"

namespace astrelon {

int32_t GetSeriesNumber(const std::string& fileName) {
  std::string name = FileNamePart(fileName);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  size_t start = name.size();
  while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
  if (start == name.size()) return -1;
  int64_t n = 0;
  for (size_t k = start; k < name.size(); ++k) {
    n = n * 10 + (name[k] - '0');
    if (n > INT32_MAX) return -1;
  }
  return int32_t(n);
}

bool IncrementSeriesFileName(std::string& fileName) {
  // The extension is looked for in the last path component only.
  const size_t part = fileName.size() - FileNamePart(fileName).size();
  const size_t dot = fileName.rfind('.');
  const size_t end = dot != std::string::npos && dot >= part ? dot : fileName.size();
  auto digit = [&](size_t back) { return end >= back && fileName[end - back] >= '0' && fileName[end - back] <= '9'; };
  if (!digit(1)) return false;
  char& d1 = fileName[end - 1];
  if (d1 < '9') {
    ++d1;
    return true;
  }
  if (!digit(2)) {  // "9" becomes "10"
    d1 = '0';
    fileName.insert(end - 1, 1, '1');
    return true;
  }
  char& d2 = fileName[end - 2];
  if (d2 < '9') {
    ++d2;
    d1 = '0';
    return true;
  }
  if (!digit(3)) {  // "99" becomes "100"
    d2 = d1 = '0';
    fileName.insert(end - 2, 1, '1');
    return true;
  }
  char& d3 = fileName[end - 3];
  if (d3 == '9') return false;
  ++d3;
  d2 = d1 = '0';
  return true;
}

}  // namespace astrelon
