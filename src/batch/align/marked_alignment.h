#pragma once
// Alignment on marks: the user marks stars, areas or a planet on the first
// image; every later image is measured automatically (its marks follow the
// target's) and checked against the run's quality statistics, and the prompt
// comes back when the user asked for it or a match is doubtful. A file of a
// loaded shift list takes its listed points. The image is then combined into
// the target (operation 10) or resampled onto its grid (operation 14).
namespace astrelon {

struct TStepRun;

// Operations 10 and 14 of a run with one or two marks.
void RunMarkedAlignment(const TStepRun& run);

}  // namespace astrelon
