#pragma once
// The histogram picture of a slot: (W + 5) x (H + 4) pixels, white with a black
// frame, one bar per bin (two bins that meet on a column share it) rising from
// the base line H + 2 with the square root of its count. Grey images in dark
// grey; colour images stack the three planes' bars in the colours of the planes
// that reach each height.
#include <QColor>
#include <QImage>

namespace astrelon {

QImage DrawHistogramBitmap(int slot, int W, int H);

// Colour of a set of planes (bit 0 plane 1, bit 1 plane 2, bit 2 plane 3) in
// the RGB (0) or YUV (1) colour model.
QColor HistogramPlaneColour(int mask, int colorModel);

}  // namespace astrelon
