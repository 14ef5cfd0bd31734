#pragma once
// Small routines on pictures the user interface draws: the colour test, the mix
// of two colours, an anti-aliased disc and the four button states of a glyph.
// They work on a view of the pixel bytes, so that a rendered bitmap and a
// window-system image (blue, green, red in memory) are treated alike.
#include <cstdint>

#include "store/display/colour_tables.h"
#include "store/display/display_bitmap.h"

namespace astrelon {

// A colour as 0x00BBGGRR: red in the low byte.
using TColor = uint32_t;
constexpr TColor RgbColor(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }
constexpr uint32_t RedOf(TColor c) { return c & 0xFF; }
constexpr uint32_t GreenOf(TColor c) { return (c >> 8) & 0xFF; }
constexpr uint32_t BlueOf(TColor c) { return (c >> 16) & 0xFF; }

// Pixel bytes of a picture: 1 byte per pixel (an index into ColourTable, or a
// grey level without one), 3 (blue, green, red) or 4 (blue, green, red, and a
// fourth byte left alone).
struct TBitmapView {
  uint8_t* Pixels = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  int64_t Stride = 0;
  int BytesPerPixel = 3;
  const TColourTable* ColourTable = nullptr;

  uint8_t* Pixel(int32_t x, int32_t y) const { return Pixels + y * Stride + int64_t(x) * BytesPerPixel; }
};
TBitmapView ViewOf(TDisplayBitmap& bitmap);

// True when the picture has colour: some pixel's blue, green and red differ.
// False for a grey picture and for one less than 2 rows high or without columns.
bool IsGreyBitmap(const TBitmapView& bitmap);

// Per channel the truncated mean of the two colours.
TColor MixColors(TColor a, TColor b);

// A filled disc of diameter `size` centred on (x, y) whose coverage falls off
// over its rim. lighten: each byte becomes at least colour x coverage; else at
// most 255 - colour x coverage (the disc darkens white by its colour). 8-bit
// pictures take the colour's red byte.
void DrawSmoothDisc(const TBitmapView& bitmap, bool lighten, TColor colour, float x, float y, float size);

// Turns a strip of four glyph images side by side (image 1 holding the glyph,
// the bottom-left pixel giving the transparent colour) into the four states of
// a button on a face of `colour`: image 1 the glyph darkened to 6/7, image 2 it
// blended two thirds towards the face, image 3 a copy of image 1, image 4 the
// original glyph. Only 3- and 4-byte pictures are changed.
void RecolorBitmap(const TBitmapView& bitmap, TColor colour);

}  // namespace astrelon
