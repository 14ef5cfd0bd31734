#include "common/text_codec.h"

#include <array>
#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace astrelon {
namespace {

// Windows-1252 0x80..0x9F; the undefined codes keep their Latin-1 value.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// Decodes one well-formed UTF-8 sequence at `i`; returns its length (0 when
// malformed) and the code point.
size_t DecodeOne(std::string_view s, size_t i, char32_t& cp) {
  const auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t lead = b(i);
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  size_t len;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size())
    return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80)
      return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

// Bytes of the character at `i`: a malformed byte stands for itself.
size_t CharBytes(std::string_view s, size_t i) {
  char32_t cp;
  size_t n = DecodeOne(s, i, cp);
  return n == 0 ? 1 : n;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  char32_t cp;
  for (size_t i = 0; i < bytes.size();) {
    size_t n = DecodeOne(bytes, i, cp);
    if (n == 0)
      return false;
    i += n;
  }
  return true;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const uint8_t b = static_cast<uint8_t>(ch);
    AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char32_t(b));
  }
  return out;
}

std::string DecodeText(std::string_view bytes, TTextEncoding* detected) {
  if (bytes.starts_with(kUtf8Bom)) {
    // The mark declares UTF-8: keep it so, replacing malformed bytes.
    if (detected)
      *detected = TTextEncoding::Utf8;
    std::string out;
    std::string_view body = bytes.substr(kUtf8Bom.size());
    out.reserve(body.size());
    for (size_t i = 0; i < body.size();) {
      char32_t cp;
      size_t n = DecodeOne(body, i, cp);
      if (n == 0) {
        AppendUtf8(out, 0xFFFD);
        ++i;
      } else {
        out.append(body.substr(i, n));
        i += n;
      }
    }
    return out;
  }
  if (IsValidUtf8(bytes)) {
    if (detected)
      *detected = TTextEncoding::Utf8;
    return std::string(bytes);
  }
  if (detected)
    *detected = TTextEncoding::Windows1252;
  return Windows1252ToUtf8(bytes);
}

std::string Utf8ToWindows1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    size_t n = DecodeOne(utf8, i, cp);
    if (n == 0) {
      out += '?';
      ++i;
      continue;
    }
    i += n;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += char(cp);
      continue;
    }
    char mapped = '?';
    for (size_t k = 0; k < kCp1252High.size(); ++k)
      if (kCp1252High[k] == cp) {
        mapped = char(0x80 + k);
        break;
      }
    out += mapped;
  }
  return out;
}

size_t Utf8Length(std::string_view utf8) {
  size_t n = 0;
  for (size_t i = 0; i < utf8.size(); i += CharBytes(utf8, i))
    ++n;
  return n;
}

std::string Utf8Substr(std::string_view utf8, size_t firstChar, size_t count) {
  auto skip = [&](size_t from, size_t chars) {
    size_t i = from;
    for (; i < utf8.size() && chars > 0; --chars)
      i += CharBytes(utf8, i);
    return i;
  };
  const size_t start = skip(0, firstChar);
  const size_t end = count == std::string_view::npos ? utf8.size() : skip(start, count);
  return std::string(utf8.substr(start, end - start));
}

std::optional<std::string> ReadTextFile(const std::string& path, size_t maxBytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 || uint64_t(st.st_size) > maxBytes) {
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes(size_t(st.st_size), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0)
      break;  // the file shrank while we read it
    got += size_t(n);
  }
  ::close(fd);
  bytes.resize(got);
  return DecodeText(bytes);
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r')
      continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      ++i;
    start = i + 1;
  }
  if (start < text.size())
    lines.emplace_back(text.substr(start));
  return lines;
}

std::optional<std::vector<std::string>> ReadFirstLines(const std::string& path, size_t count, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::string> lines;
  std::string line;
  bool inLine = false;
  char c;
  while (lines.size() < count && in.get(c)) {
    if (c == '\n' || c == '\r') {
      if (c == '\r' && in.peek() == '\n') in.get(c);
      lines.push_back(DecodeText(line));
      line.clear();
      inLine = false;
      continue;
    }
    inLine = true;
    if (line.size() < limit) line += c;
  }
  if (in.bad()) return std::nullopt;
  if (inLine && lines.size() < count) lines.push_back(DecodeText(line));
  return lines;
}

}  // namespace astrelon
