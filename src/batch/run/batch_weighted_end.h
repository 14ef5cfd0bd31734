#pragma once
// The end of a run's weighted accumulations: the colour-mosaic target
// replaces the run's target, is normalised, recorded and written; the
// double-size target is normalised and written beside it as "Swarp_" + the
// target's name (a numbered copy name when a file has that name), then
// closed. An aborted run closes the double-size target unsaved.
namespace astrelon {

// The colour-mosaic ending of an add run; true when it took the target's
// place (the plain ending then has nothing more to do).
bool FinishBayerTarget(bool aborted);
// The double-size ending (nothing when there is no accumulation).
void FinishDoubleSizeTarget(bool aborted);

}  // namespace astrelon
