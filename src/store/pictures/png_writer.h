#pragma once
// Encoding a rendered bitmap as a PNG through libpng: 8-bit grey, palette (an
// 8-bit bitmap with a coloured table) or RGB, at a zlib compression level, with
// all row filters allowed and optional Adam7 interlacing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace astrelon {

struct TDisplayBitmap;

// Test seam: the encoded bytes may take at most this many bytes of memory (0 = no
// limit); beyond it the encoder fails as when memory runs out.
extern size_t PngOutputLimit;

bool EncodePng(const TDisplayBitmap& bitmap, int compressionLevel, bool interlaced, std::vector<uint8_t>& out);
// Writes the file (replacing an existing one only when complete).
bool SavePngFile(const TDisplayBitmap& bitmap, int compressionLevel, bool interlaced, const std::string& fileName);

}  // namespace astrelon
