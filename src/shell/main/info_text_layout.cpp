#include "shell/main/info_text_layout.h"

#include <algorithm>

#include "common/text_codec.h"

namespace astrelon {

std::vector<std::string> InfoTextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string rest = text;
  for (size_t cr = rest.find('\r'); cr != std::string::npos; cr = rest.find('\r')) {
    lines.push_back(" " + rest.substr(0, cr));
    rest.erase(0, std::min(cr + 2, rest.size()));
    while (!rest.empty() && rest.front() == '\n') {
      lines.emplace_back(" ");
      rest.erase(0, 1);
    }
  }
  if (Utf8Length(rest) > 1) lines.push_back(" " + rest);
  return lines;
}

size_t AlignFirstTabs(std::vector<std::string>& lines, size_t from) {
  size_t column = 0;
  for (size_t i = from; i < lines.size(); ++i)
    if (const size_t tab = lines[i].find('\t'); tab != std::string::npos)
      column = std::max(column, Utf8Length(std::string_view(lines[i]).substr(0, tab)));
  size_t longest = from, longestLength = 0;
  for (size_t i = from; i < lines.size(); ++i) {
    if (const size_t tab = lines[i].find('\t'); tab != std::string::npos) {
      const size_t p = Utf8Length(std::string_view(lines[i]).substr(0, tab));
      lines[i].replace(tab, 1, std::string(column - p + 1, ' '));
    }
    if (const size_t n = Utf8Length(lines[i]); n > longestLength) {
      longestLength = n;
      longest = i;
    }
  }
  return longest;
}

}  // namespace astrelon
