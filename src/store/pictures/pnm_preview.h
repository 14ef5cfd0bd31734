#pragma once
// A thumbnail of a binary PGM ("P5") or PPM ("P6") file for the open dialog.
#include <cstdint>
#include <span>
#include <string>

#include "store/display/display_bitmap.h"

namespace astrelon {

// Next header token from `header` at `pos`: collects the bytes above 32 and stops
// after the first byte below `limit` or after 11 bytes. False when the header
// ends first.
bool ReadPnmPreviewToken(std::span<const uint8_t> header, size_t& pos, int limit, std::string& token);

// Fills the bitmap with a thumbnail of at most 280 x 186 pixels (8-bit grey for
// P5, 24-bit for P6; 16-bit samples show their high byte; rows missing at the
// end of a short file are black) and reports the full size. False, with nothing
// shown, for another magic, a header it does not accept or a width or height
// outside 1..32767.
bool LoadPnmPreview(TDisplayBitmap& bitmap, const std::string& fileName, int32_t& fullWidth, int32_t& fullHeight);

}  // namespace astrelon
