#pragma once
// Planar 8-bit YCbCr (BT.601, full or limited range) to packed RGB, one row at a
// time, in 16-bit fixed point: a scalar loop and an AVX2 loop that give the same
// bytes. Video frames of MJPEG and similar codecs are turned into pictures with it.
#include <cstdint>

namespace astrelon {

struct TYuvRow {
  const uint8_t* Y = nullptr;
  const uint8_t* Cb = nullptr;
  const uint8_t* Cr = nullptr;
  int32_t Width = 0;
  int ChromaShift = 1;  // 1: one chroma sample per two pixels (4:2:0, 4:2:2), 0: one per pixel
  bool FullRange = true;  // JPEG levels 0..255, else 16..235 (chroma 16..240)
};

// Writes Width RGB triples to `rgb`. `vector` allows the AVX2 loop.
void YuvRowToRgb(const TYuvRow& row, uint8_t* rgb, bool vector);

}  // namespace astrelon
