#pragma once
// A thumbnail of a FITS file for the open dialog's preview.
#include <cstdint>
#include <string>

namespace astrelon {

// A thumbnail that fits 280 x 186: 186 rows high when the image is no wider
// than 280:186, else 280 wide; at least 1 x 1. Scale = thumbnail / image size.
struct TThumbnailSize {
  int32_t Width = 1;
  int32_t Height = 1;
  double Scale = 1.0;
};
TThumbnailSize PreviewThumbnailSize(int32_t width, int32_t height);

// Reads a thumbnail of at most 280 x 186 samples (rows and columns picked from
// the file, nothing else read) into the slot, with its display range set, and
// reports the full image size. A refused header shows the same message as
// LoadFits; an unreadable file gives false without a message.
bool LoadFitsPreview(int slot, const std::string& fileName, int32_t& fullWidth, int32_t& fullHeight);

}  // namespace astrelon
