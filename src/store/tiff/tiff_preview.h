#pragma once
// The open dialog's preview of a TIFF file: a reduced copy decoded strip by strip
// straight into a picture that fits a given size.
#include <cstdint>
#include <string>

#include "store/display/display_bitmap.h"

namespace astrelon {

struct TPreviewSize {
  int32_t Width = 0;
  int32_t Height = 0;
};

// Size of the preview picture of an image: its own size when it fits, else the
// largest size of the same aspect ratio that does (each side at least 1).
TPreviewSize FitPreviewSize(int32_t maxWidth, int32_t maxHeight, uint32_t width, uint32_t height);

// Fills `bitmap` with a reduced copy that fits into maxWidth x maxHeight and sets
// `size` to the file's own size: 1..8-bit images through libtiff's RGBA decoding
// as 24-bit pictures, deeper ones as 24-bit (colour) or 8-bit grey pictures of
// the samples' high bytes (floats 0..1 map to 0..255). On any failure `size` is
// (0, 0) and nothing is shown.
void LoadTiffPreview(int32_t maxWidth, int32_t maxHeight, const std::string& fileName, TPreviewSize& size,
                     TDisplayBitmap& bitmap);

}  // namespace astrelon
