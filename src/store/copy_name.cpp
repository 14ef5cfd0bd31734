#include "store/copy_name.h"

#include <filesystem>
#include <system_error>

namespace astrelon {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Extension with its dot, from the last path component only.
size_t ExtensionStart(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name.size();
  return dot;
}

bool FileExists(const std::string& name) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path(name), ec) || std::filesystem::is_symlink(name, ec);
}

}  // namespace

std::string NextCopyName(const std::string& from, bool numbered, bool& addedNumber,
                         const std::function<bool(const std::string&)>& taken) {
  addedNumber = false;
  const size_t e = ExtensionStart(from);
  const std::string ext = from.substr(e);
  std::string base = from.substr(0, e);
  int n = 1;
  auto takeLastDigit = [&]() {
    if (!base.empty() && IsDigit(base.back())) {
      n = base.back() - '0';
      base.pop_back();
    } else {
      n = 1;
    }
  };
  if (numbered) {
    takeLastDigit();
  } else {
    // A "_" among the last three characters, followed by a digit (or last), marks a number.
    const int L = int(base.size());
    bool found = false;
    for (int pos = L; pos >= 1 && pos >= L - 2; --pos) {
      const char c = base[size_t(pos - 1)];
      if (c == '\\' || c == '/') break;
      if (c == '_') {
        found = pos == L || IsDigit(base[size_t(pos)]);
        break;
      }
    }
    if (found) {
      takeLastDigit();
    } else {
      base += "_";
      addedNumber = true;
    }
  }
  std::string name;
  for (;;) {
    ++n;
    if (n > 9 && !base.empty() && IsDigit(base.back()) && base.back() < '9') {
      base.back() = char(base.back() + 1);
      n = 0;
    }
    name = base + std::to_string(n) + ext;
    if (!taken(name) || n > 49) break;
  }
  return name;
}

std::string FreeCopyFileName(const std::string& name) {
  std::string result = name;
  bool numbered = false;
  for (int tries = 0; tries < 10000; ++tries) {
    if (!FileExists(result)) return result;
    bool added = false;
    result = NextCopyName(result, numbered, added, FileExists);
    numbered = numbered || added;
  }
  return "";
}

}  // namespace astrelon
