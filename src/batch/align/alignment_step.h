#pragma once
// The alignment steps of a batch: "Zur Zieldatei addieren" (10) combines the
// work image into the run's target, "An Zieldatei anpassen" (14) resamples it
// onto the target's grid. Both prepare the image first (display zoom, comet
// offset).
namespace astrelon {

struct TStepRun;

void RunAlignmentStep(const TStepRun& run);

}  // namespace astrelon
