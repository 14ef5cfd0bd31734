#pragma once
// Encoding a rendered bitmap as a JPEG through libjpeg: sequential, at a quality,
// greyscale for grey displays.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace astrelon {

struct TDisplayBitmap;

// Test seam: the encoded bytes may take at most this many bytes of memory (0 = no
// limit); beyond it the encoder fails as when memory runs out.
extern size_t JpegOutputLimit;

// Whether a bitmap is written as a greyscale JPEG: an 8-bit bitmap of a grey or
// isophote display (display type below 3).
bool JpegGreyOutput(const TDisplayBitmap& bitmap, int displayType);

// Encodes the bitmap at quality 1..100 (0 counts as 1, above 100 as 100). Grey
// output takes the luminance of the colour table's entries. False on failure.
bool EncodeJpeg(const TDisplayBitmap& bitmap, int quality, bool grey, std::vector<uint8_t>& out);
// Writes the file (replacing an existing one only when complete).
bool SaveJpegFile(const TDisplayBitmap& bitmap, int quality, bool grey, const std::string& fileName);
// Size in KB (bytes div 1024) of the encoded bitmap; -1 on failure.
int32_t JpegSizeKB(const TDisplayBitmap& bitmap, int quality, bool grey);

}  // namespace astrelon
