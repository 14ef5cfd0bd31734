#pragma once
// Reading PNG files into a slot through libpng: every colour type and bit depth;
// 16-bit samples are kept, an alpha below half makes a blank pixel.
#include <cstdint>
#include <span>
#include <string>

namespace astrelon {

class TPictureSink;

// Decodes a PNG in memory into the slot through the sink; false for a damaged or
// truncated file. Throws std::bad_alloc when the planes do not fit in memory.
bool DecodePng(std::span<const uint8_t> data, int slot, TPictureSink& sink);

// The loader's PNG path; shows a message when the file cannot be read.
bool LoadPngFile(int slot, const std::string& fileName);

}  // namespace astrelon
