#pragma once
// "3D-Darstellung": an image drawn as a relief seen from the front and above,
// one vertical stroke per pixel whose length grows with the displayed
// brightness, rows drawn from the back to the front.
#include "common/picture.h"

namespace astrelon {

// The relief of the slot's image in a picture of (W + H div 4 + 4) ×
// (H div 2 + 160) pixels, white first: RGB for a colour image in the RGB model,
// else grey. With the display's black and white points a value v is at
// b = round((v − black)·255/(0.1 + white − black)); pixel (c, y) of rows
// 0 .. H − 2 and columns 0 .. W − 2 is a stroke at x' = round((c + 2)·s + o),
// s = 0.15·y/W + 1 − 0.15·H/W, o = H div 4 + 0.075·H − 0.25·y, rising from
// y div 2 + 100 by (b div 8) + 1 pixels (33 when b >= 256) in its displayed
// grey or colour; a colour pixel's length comes from the luma of its three b.
// The last drawn column and row are walls from y div 2 + 120 of (b div 8) + 21
// pixels (53 when b >= 256, 21 when blank) in grey 48 (column) and 64 (row);
// other blank pixels are not drawn. Strokes stop at the picture's edges.
TPicture RenderRelief(int slot);

}  // namespace astrelon
