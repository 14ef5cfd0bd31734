#pragma once
// Text files and UTF-8 text: reading files written as UTF-8 (with or without
// byte-order mark) or as Windows-1252, writing single-byte files, and counting
// characters rather than bytes for fixed column positions.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace astrelon {

enum class TTextEncoding { Utf8, Windows1252 };

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Decodes file contents to UTF-8: UTF-8 loses its byte-order mark; anything
// else that is not valid UTF-8 is read as Windows-1252. A file that starts
// with the mark stays UTF-8, with U+FFFD for each malformed byte. `detected`
// receives the encoding that was used.
std::string DecodeText(std::string_view bytes, TTextEncoding* detected = nullptr);

// Windows-1252 bytes to UTF-8. The five codes that Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 control characters of
// the same number, as in Latin-1, so that every byte survives a round trip.
std::string Windows1252ToUtf8(std::string_view bytes);

// UTF-8 to Windows-1252 for files that must be single-byte; characters
// without a Windows-1252 code and malformed bytes become '?'.
std::string Utf8ToWindows1252(std::string_view utf8);

// Number of characters (code points) in UTF-8 text; a malformed byte counts
// as one character.
size_t Utf8Length(std::string_view utf8);

// Up to `count` characters starting at character `firstChar` (counted from 0).
std::string Utf8Substr(std::string_view utf8, size_t firstChar, size_t count = std::string_view::npos);

// Reads a whole text file and decodes it (see DecodeText); nullopt when the
// file cannot be read, is not a regular file or is larger than `maxBytes`.
std::optional<std::string> ReadTextFile(const std::string& path, size_t maxBytes = size_t(256) << 20);

// Splits text into lines at CR LF, LF or CR. A line break at the very end
// does not start another line; empty text gives no lines.
std::vector<std::string> SplitLines(std::string_view text);

// The first `count` lines of a text file (LF, CR LF or CR), each cut to `limit`
// bytes before it is decoded; the rest of a long line is skipped, so a file of
// any size reads in bounded memory. nullopt when the file cannot be read.
std::optional<std::vector<std::string>> ReadFirstLines(const std::string& path, size_t count, size_t limit);

}  // namespace astrelon
