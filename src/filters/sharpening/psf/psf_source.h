#pragma once
// The star cutout that the PSF sharpening uses as its point-spread function:
// cut from the star an image window points at, optionally levelled so that its
// border lies at zero.
#include "shell/stars/star_cutout.h"

namespace astrelon {

// The cutout as picked (32 x 32 per plane, star at index 15).
extern TStarCutout PsfStore;

// Subtracts the median of the cutout's valid border pixels: per plane for an
// RGB cutout, for a YUV cutout from the Y plane alone. Planes without a valid
// border pixel stay as they are. The value range is recomputed.
void SubtractPsfBorderMedian(TStarCutout& cutout);

// Cuts the star the slot's window points at into PsfStore: the star mark's
// point, or the rounded centroid of the star found in the first selection;
// then levels it when the "PSF skalieren" option is on. False (PsfStore
// unchanged) when the slot has no window or the window shows neither.
bool CutPsfFromWindow(int slot);

}  // namespace astrelon
