#pragma once
// The Bayer-special accumulation: raw colour-mosaic frames are added straight
// into an RGB target, every pixel into the plane of its own colour, with a
// weight per target pixel and plane; the target is normalised at the end.
namespace astrelon {

struct TFrameAlignment;

// Makes the accumulation from the first mosaic frame (taken from its slot, so
// that a video frame serves too): a new slot of the frame's size with three
// zeroed planes (RGB, colour display, three-axis header), zeroed weight
// planes, the frame's 30 % level as the target level, the pattern and the red
// and blue factors of the colour-mosaic settings. False (nothing left behind)
// when no slot is free, the frame is no one-plane image or memory runs out.
bool PrepareBayerSpecialTarget(int frameSlot);

// Adds one mosaic frame: levelled to the target level (a frame of the loaded
// shift list also gets the red and blue factors, which the alignment step
// applied to the others); with one or two pairs each valid pixel is split
// bilinearly over the four target pixels around its target position, with
// more pairs each target pixel takes the four frame pixels around its frame
// position. Every weight, and so the frame's share of each sum, is scaled by
// `frameWeight` (1 full). Worker threads take bands of target rows; every
// target pixel sums in frame order whatever the split.
void BayerSpezialAddieren(int frameSlot, const TFrameAlignment& alignment, bool listed, float frameWeight = 1);

}  // namespace astrelon
