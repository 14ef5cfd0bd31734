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

}  // namespace astrelon
