#include "core/language.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/number_text.h"
#include "common/text_codec.h"

namespace astrelon {

TLanguageFile LanguageFile;
bool LanguageFileLoaded = false;
const char* const ProgramVersionText = "4.28";

namespace {

constexpr size_t kMaxLanguageFileBytes = size_t(16) << 20;

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// A header of a section with one or two digits: "[" and "_" as third or fourth character.
bool IsShortSectionHeader(const std::string& line) {
  return !line.empty() && line[0] == '[' && ((line.size() > 2 && line[2] == '_') || (line.size() > 3 && line[3] == '_'));
}

// Decodes one UTF-8 sequence at i and advances i. A byte that does not start a
// well-formed sequence comes back as itself (its Latin-1 meaning).
uint32_t NextCodePoint(const std::string& s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  const int len = b0 < 0x80 ? 1 : (b0 >> 5) == 6 ? 2 : (b0 >> 4) == 14 ? 3 : (b0 >> 3) == 30 ? 4 : 0;
  if (len <= 1 || i + size_t(len) > s.size() || !IsValidUtf8(std::string_view(s).substr(i, size_t(len)))) {
    ++i;
    return b0;
  }
  uint32_t cp = len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
  for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + size_t(k)]) & 0x3F);
  i += size_t(len);
  return cp;
}

// ASCII spelling of a character, from section 8 of the translation file or the
// built-in table; empty when the character has none.
std::string SpellingOf(uint32_t c) {
  if (LanguageFileLoaded) {
    for (int n = 1; n <= 255; ++n) {
      const std::string entry = LangText(LangKey(8, n));
      if (entry.empty()) break;
      size_t i = 0;
      if (NextCodePoint(entry, i) != c) continue;
      if (i < entry.size()) NextCodePoint(entry, i);  // the separator
      return entry.substr(i);
    }
    return {};
  }
  switch (c) {
    case 0xC4: return "Ae";
    case 0xE4: return "ae";
    case 0xD6: return "Oe";
    case 0xF6: return "oe";
    case 0xDC: return "Ue";
    case 0xFC: return "ue";
    case 0xDF: return "ss";
    default: return {};
  }
}

}  // namespace

std::string ListLanguageFiles(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!StartsWith(name, "QZlang_") || name.size() < 11 || name.compare(name.size() - 4, 4, ".txt") != 0) continue;
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;
    names.push_back(name);
  }
  if (names.empty()) return {};
  std::sort(names.begin(), names.end());
  return (fs::path(folder) / names.front()).string();
}

void UnloadLanguageFile() {
  LanguageFile = TLanguageFile{};
  LanguageFileLoaded = false;
}

void LoadLanguageFile(std::vector<std::string> rawLines) {
  UnloadLanguageFile();
  TLanguageFile f;
  std::erase_if(rawLines, [](const std::string& l) { return l.empty(); });
  if (!rawLines.empty()) {
    const size_t p = rawLines[0].find('[');
    if (p != std::string::npos && p > 0) {
      rawLines[0].erase(0, p);
      f.Utf8 = true;
      if (rawLines[0].empty()) rawLines.erase(rawLines.begin());
    }
  }
  bool wholeFileUtf8 = true;
  if (!f.Utf8) {
    for (const auto& l : rawLines)
      if (!IsValidUtf8(l)) wholeFileUtf8 = false;
  }
  f.Lines.reserve(rawLines.size());
  for (auto& l : rawLines) {
    // A file marked as UTF-8 may still hold a stray single-byte line; read that one as Windows-1252.
    const bool asUtf8 = f.Utf8 ? IsValidUtf8(l) : wholeFileUtf8;
    f.Lines.push_back(asUtf8 ? std::move(l) : Windows1252ToUtf8(l));
  }

  const auto count = int32_t(f.Lines.size());
  f.SectionStart[0] = 0;
  if (count > 0 && f.Lines[0].size() > 1 && f.Lines[0][1] == '0') f.SectionStart[0] = 1;
  // Headers are searched in numerical order: a missing section makes every later
  // one unreachable (their starts lie past the end of the list).
  int32_t i = -1;
  int s = 1;
  for (; s <= 255 && i < count; ++s) {
    const std::string header = "[" + std::to_string(s) + "_";
    do {
      ++i;
    } while (i < count && !StartsWith(f.Lines[size_t(i)], header));
    f.SectionStart[size_t(s)] = i + 1;
  }
  for (; s <= 256; ++s) f.SectionStart[size_t(s)] = i + 1;
  f.SectionStart[256] = std::max(f.SectionStart[256], count + 1);

  LanguageFile = std::move(f);
  LanguageFileLoaded = true;
  const std::string version = LangText(LangKey(0, 1));
  if (!version.empty()) LanguageFile.Version = float(TryStrToFloatDot(version).value_or(0.0));
}

bool LoadLanguageFileFrom(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxLanguageFileBytes) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  LoadLanguageFile(SplitLines(bytes));
  return true;
}

std::string TagOfKey(uint32_t key) {
  std::string tag = "[" + std::to_string((key >> 8) & 255);
  if ((key >> 16) != 0) tag += "." + std::to_string((key >> 16) & 255);
  if ((key >> 24) != 0) tag += "." + std::to_string((key >> 24) & 255);
  return tag + "]";
}

std::string LangText(int key) {
  if (!LanguageFileLoaded || key == 0) return {};
  const auto k = static_cast<uint32_t>(key);
  const std::string tag = TagOfKey(k);
  const size_t section = k & 255;
  const auto& lines = LanguageFile.Lines;
  const auto count = int32_t(lines.size());
  // A section ends at the header of the next one (the line before its start).
  const int32_t end = std::min(count, LanguageFile.SectionStart[section + 1] - 1);
  for (int32_t i = LanguageFile.SectionStart[section]; i < end; ++i) {
    const std::string& line = lines[size_t(i)];
    if (line.size() < tag.size()) continue;
    if (StartsWith(line, tag)) {
      std::string result = line.substr(tag.size());
      for (int32_t j = i + 1; j < end && !StartsWith(lines[size_t(j)], "["); ++j) result += "\r\n" + lines[size_t(j)];
      return result;
    }
    if (IsShortSectionHeader(line)) return {};
  }
  return {};
}

std::string LangTextOr(int key, const std::string& german) {
  std::string t = LangText(key);
  return t.empty() ? german : t;
}

std::string FirstWord(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  size_t j = i;
  // Bytes of multi-byte characters are all >= 0x80 and belong to the word.
  while (j < text.size() && static_cast<unsigned char>(text[j]) >= 65) ++j;
  return text.substr(i, j - i);
}

std::string FoldToAscii(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const uint32_t c = NextCodePoint(text, i);
    if (c >= 32 && c <= 126) {
      out += char(c);
      continue;
    }
    // Replaced by its spelling, of which only plain ASCII is kept; the scan goes on
    // with the character that followed the replaced one.
    for (char ch : SpellingOf(c))
      if (ch >= 32 && ch <= 126) out += ch;
  }
  return out;
}

std::string FoldToAsciiShort(const std::string& text, size_t maxLength) {
  std::string s = FoldToAscii(text);
  if (s.size() > maxLength) s.resize(maxLength);
  return s;
}

double ProgramVersion() { return TryStrToFloatDot(std::string(ProgramVersionText).substr(0, 3)).value_or(4.0); }

std::string LanguageVersionNote(double random01) {
  if (!LanguageFileLoaded) return {};
  const double program = ProgramVersion();
  const double file = LanguageFile.Version;
  if (!(program - 0.1 > file && program - file > random01)) return {};
  const std::string entry = LangText(LangKey(0, 1, 1));
  return entry.empty() ? "     (A newer Language Textfile is available)" : "     " + entry;
}

}  // namespace astrelon
