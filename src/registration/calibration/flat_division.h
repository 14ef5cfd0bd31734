#pragma once
// Division of an image by a flat field (an exposure of an evenly lit surface
// that records vignetting and dust), plain or with the automatic fit of the
// flat's response and a brightness gradient.
#include <cstdint>

namespace astrelon {

// Divides the destination (a copy of the source, changed in place) by the flat.
// M = mean of the flat's measuring plane (GetRgbCode), L = mean of the flat
// plane of a pass (of one mosaic cell class with a mosaic), both at least 0.1.
// Plain: result = S x (keepLevel ? M : 1) / F. Automatic: the response g of
// F / L and the gradient are fitted on samples of the source, then result =
// (S / g + gradient) x (keepLevel ? M : 1) x (C0 + C1 + C2) / L; a grey source
// whose flat is a colour mosaic is fitted per cell class. Flat values at or
// below 20 % of L (and g <= 0.1) give blank pixels; blank pixels stay blank and
// pixels outside a smaller flat stay unchanged. The automatic form recomputes
// the source's value range. Nothing happens when a slot is not in use. The
// vector path (Sse2Enabled) gives the same values as the scalar one. A flat
// with no pixel above its dark limit in a plane (or cell class) it divides,
// inside the destination (all 0 or blank, say), is refused with
// FlatWithoutUsablePixelsText and the destination stays as it was. False when
// nothing was divided.
bool DivideByImage(int source, int destination, int flat, bool keepLevel, bool automatic);

inline constexpr const char* FlatWithoutUsablePixelsText =
    "Das Hellbild hat keine brauchbaren Pixel (alle Werte sind 0 oder leer); es wird nicht dividiert.";

// Cell class of a mosaic pixel for the green phase (0 or 1): 1 the green
// checkerboard (x + y ≡ phase mod 2), 2 the other pixels of even rows, 3 those
// of odd rows.
constexpr int MosaicCellClass(int32_t x, int32_t y, int phase) {
  if (((x + y) & 1) == (phase & 1)) return 1;
  return (y & 1) == 0 ? 2 : 3;
}

}  // namespace astrelon
