#include "filters/network/network_list_file.h"

#include <algorithm>
#include <fstream>

#include "common/paths.h"
#include "common/text_codec.h"

namespace astrelon {

namespace {
// Longest line of a list file read: a path.
constexpr size_t LineLimit = 4096;
}  // namespace

bool IsNetworkListFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  char head[4] = {};
  if (!in.read(head, 4)) return false;
  const std::string_view h(head, 4);
  return h == "RGB:" || h == "rgb:";
}

std::optional<std::array<std::string, 3>> ReadNetworkListFile(const std::string& fileName) {
  const auto lines = ReadFirstLines(fileName, 4, LineLimit);
  if (!lines || lines->size() < 4) return std::nullopt;
  const std::string folder = ExtractFilePath(fileName);
  std::array<std::string, 3> names;
  for (size_t k = 0; k < 3; ++k) {
    std::string line = (*lines)[k + 1];
    if (line.empty()) return std::nullopt;
    std::replace(line.begin(), line.end(), '\\', '/');
    names[k] = folder + line;
  }
  return names;
}

}  // namespace astrelon
