#pragma once
// PSF images: the black level a PSF image loses, the designer's grid taken
// from the centre of an open image, and a grid turned into an image slot.
#include <string>

#include "frequency/deconvolution/psf_grid.h"

namespace astrelon {

// The level a PSF image's plane loses before use: the median of its border
// pixels while "PSF Bilder automatisch skalieren" is on, else (and without
// valid border pixels) 0.
double PsfBlackLevel(int slot, int plane);

// "Bild einfügen -->": each cell gets (v − black)·scale from plane 1 around the
// image's centre ((w − 1) div 2, (h − 1) div 2) at cell 31, scale being
// 255/maximum for a maximum above 0, else 1; cells beyond the image and blank
// pixels get 0. False, the grid unchanged, when the slot is not in use.
bool PsfGridFromImage(int slot, TPsfGrid& grid);

// A new 64 × 64 one-plane image of the grid (pixel (x, y) from cell (x, y)) in
// the lowest free slot, named `name`, without a window; the slot or −1.
int PsfGridToNewSlot(const TPsfGrid& grid, const std::string& name);

}  // namespace astrelon
