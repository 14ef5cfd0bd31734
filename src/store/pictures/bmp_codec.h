#pragma once
// Windows bitmap files: reading (1, 4, 8 bits with a colour table, RLE8/RLE4,
// 16, 24 and 32 bits; Windows and OS/2 headers) into a slot, and writing a
// rendered 8-bit or 24-bit bitmap.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace astrelon {

class TPictureSink;
struct TDisplayBitmap;

// Decodes a BMP in memory into the slot through the sink; false for a damaged,
// truncated or unsupported file. Throws std::bad_alloc when the planes do not fit.
bool DecodeBmp(std::span<const uint8_t> data, int slot, TPictureSink& sink, bool keepColour = false);

// The loader's BMP path; shows a message when the file cannot be read.
bool LoadBmpFile(int slot, const std::string& fileName);

// The bitmap as a BMP file: 8 bits with its colour table, or 24 bits.
std::vector<uint8_t> EncodeBmp(const TDisplayBitmap& bitmap);
// Writes the file (replacing an existing one only when complete); false on failure.
bool SaveBmpFile(const TDisplayBitmap& bitmap, const std::string& fileName);

}  // namespace astrelon
