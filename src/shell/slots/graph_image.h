#pragma once
// Pictures the program draws (graphs, views) as new images.
#include "common/picture.h"

namespace astrelon {

// The picture in the lowest free slot as an 8-bit image: display range 0..255,
// a fresh header and the next free name after "Grafik_0.png" (the translated
// prefix followed by "0.png" when a language is loaded). The slot, or −1 when
// no slot is free or the picture cannot be stored.
int PictureToNewImage(const TPicture& picture);

}  // namespace astrelon
