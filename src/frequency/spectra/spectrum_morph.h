#pragma once
// Mixing two images in the frequency domain: each bin takes the mean amplitude
// and the mean phase of the two images' bins.
namespace astrelon {

// The result slot (a copy of the first image) is cut to the second image's
// size or padded with blank pixels at the right and bottom; the spectra A of
// the second image and B of the result (inner margin 2, the outer margin
// setting) are mixed into B: with phases φ = ArcTan2(re, im) brought within π
// of each other, amplitude (|A| + |B|)/2 and phase (φA + φB)/2 give re = m·sin φ,
// im = m·cos φ. B's inverse replaces the planes of the result's channel
// selection. False when a spectrum could not be made (the result may be cut
// or padded then).
bool MorphSpectra(int result, int second);

}  // namespace astrelon
