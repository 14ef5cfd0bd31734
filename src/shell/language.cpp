#include "shell/language.h"

#include <cstdint>

namespace astrelon {

std::string LangText(int) { return {}; }

namespace {
// Decodes one UTF-8 sequence at i; advances i. Invalid bytes come back as themselves.
uint32_t NextCodePoint(const std::string& s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  int len = b0 < 0x80 ? 1 : (b0 >> 5) == 6 ? 2 : (b0 >> 4) == 14 ? 3 : (b0 >> 3) == 30 ? 4 : 1;
  if (i + size_t(len) > s.size()) len = 1;
  uint32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
  for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + size_t(k)]) & 0x3F);
  i += size_t(len);
  return cp;
}
}  // namespace

std::string FoldToAscii(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const uint32_t c = NextCodePoint(text, i);
    if (c >= 32 && c <= 126) {
      out += char(c);
      continue;
    }
    switch (c) {
      case 0xC4: out += "Ae"; break;
      case 0xE4: out += "ae"; break;
      case 0xD6: out += "Oe"; break;
      case 0xF6: out += "oe"; break;
      case 0xDC: out += "Ue"; break;
      case 0xFC: out += "ue"; break;
      case 0xDF: out += "ss"; break;
      default: break;  // no spelling: removed
    }
  }
  return out;
}

}  // namespace astrelon
