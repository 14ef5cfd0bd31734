#pragma once
// The double-size ("Swarp") target of an add run: every finished image whose
// last step adds it to the target with the option "Doppelt so großes
// Swarp-Bild erstellen" on (Add mode) also feeds the double-size accumulation,
// aligned by the image's points and its comet offset.
namespace astrelon {

// The last step is operation 10 in Add mode with the option on.
bool DoubleSizeWanted();
// The first image starts the accumulation, later images are added to it.
// False when the accumulation could not be started (the reason was shown).
bool FeedDoubleSizeTarget(bool firstImage);

}  // namespace astrelon
