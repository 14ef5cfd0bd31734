#pragma once
// A rendered picture in memory: 8-bit indices with a colour table, or 24-bit
// pixels stored blue, green, red. Rows start on 4-byte boundaries, row 0 on top,
// so a QImage (Indexed8 or BGR888) can wrap the buffer without copying.
#include <cstdint>
#include <span>
#include <vector>

#include "store/display/colour_tables.h"

namespace astrelon {

enum class TBitmapFormat : uint8_t { Indexed8, Bgr24 };

struct TDisplayBitmap {
  int32_t Width = 0;
  int32_t Height = 0;
  TBitmapFormat Format = TBitmapFormat::Indexed8;
  int64_t Stride = 0;  // bytes per row
  std::vector<uint8_t> Pixels;
  TColourTable ColourTable{};  // used by Indexed8

  bool Empty() const { return Width <= 0 || Height <= 0; }
  int BytesPerPixel() const { return Format == TBitmapFormat::Bgr24 ? 3 : 1; }
  std::span<uint8_t> Row(int y) { return std::span<uint8_t>(Pixels).subspan(size_t(y) * size_t(Stride), size_t(Stride)); }
  std::span<const uint8_t> Row(int y) const {
    return std::span<const uint8_t>(Pixels).subspan(size_t(y) * size_t(Stride), size_t(Stride));
  }
  // Sizes the buffer (zeroed when the shape changes) and keeps the colour table.
  void Resize(int32_t width, int32_t height, TBitmapFormat format);
  void Clear();
};

// Puts a colour table into an 8-bit bitmap; other formats are left alone.
void ReadBmpColourTable(TDisplayBitmap& bitmap, const TColourTable& table);

}  // namespace astrelon
