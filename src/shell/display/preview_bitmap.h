#pragma once
// Small preview pictures of a slot (open dialog, window previews).
#include <cstdint>

#include "store/display/display_bitmap.h"

namespace astrelon {

constexpr int32_t PreviewBoxWidth = 280;
constexpr int32_t PreviewBoxHeight = 186;

// Fills bitmap with the slot's image through its black and white points (linear):
// 24-bit for colour images, 8-bit grey otherwise. With fit the picture fits the
// 280 x 186 preview box, else it has the image size. False when the slot holds no
// image.
bool FillPreviewBitmap(int slot, TDisplayBitmap& bitmap, bool fit);

struct TPreviewPlacement {
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
};

// Where a preview picture goes in the open dialog's preview control: wide pictures
// 280 wide at left 3, centred on y = 120; tall ones 186 high at top 27, centred on
// x = 143.
TPreviewPlacement PreviewPlacement(int32_t width, int32_t height);

}  // namespace astrelon
