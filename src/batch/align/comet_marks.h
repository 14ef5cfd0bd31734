#pragma once
// The two-image comet computation's share of an aligned image: after the
// stars of an image are aligned, the user marks the comet in it; the first
// image's star marks are kept and put back on the target for the second
// image, and the star points, comet positions, series numbers and times of
// both images are stored for the motion computed at the end of the run.
namespace astrelon {

// Second image: the work window's marks are hidden and the target's
// reference star marks put back where the first image had them.
void RestoreCometReference(int target, int work);

// After the stars of the image were aligned: stores its star points, series
// number and time, hides the window's star marks, then asks for the comet in
// `slot` and stores its position (its mark 1: a direct mark as placed, a box
// measured from its own pixels). A box without a comet to measure is said so
// and cleared, and the comet asked for again. False when the run ends or the
// image is skipped at the prompt.
bool MarkComet(int slot, bool first);

}  // namespace astrelon
