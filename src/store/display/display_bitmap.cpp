// Storage of rendered pictures.
#include "store/display/display_bitmap.h"

namespace astrelon {

void TDisplayBitmap::Resize(int32_t width, int32_t height, TBitmapFormat format) {
  width = width > 0 ? width : 0;
  height = height > 0 ? height : 0;
  // Same shape again: keep the buffer, every pixel is written by the caller.
  if (width == Width && height == Height && format == Format && !Pixels.empty()) return;
  Width = width;
  Height = height;
  Format = format;
  const int64_t rowBytes = int64_t(Width) * (format == TBitmapFormat::Bgr24 ? 3 : 1);
  Stride = (rowBytes + 3) & ~int64_t(3);
  Pixels.assign(size_t(Stride) * size_t(Height), 0);
}

void TDisplayBitmap::Clear() {
  Width = Height = 0;
  Stride = 0;
  Pixels.clear();
  Pixels.shrink_to_fit();
}

void ReadBmpColourTable(TDisplayBitmap& bitmap, const TColourTable& table) {
  if (bitmap.Format == TBitmapFormat::Indexed8) bitmap.ColourTable = table;
}

}  // namespace astrelon
