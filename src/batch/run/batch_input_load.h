#pragma once
// The file step of a batch run: the next input (a file, or a frame of the
// run's video) is read into a slot and becomes the work image; the first
// input of a run that adds to a target or aligns becomes the target.
#include <string>

namespace astrelon {

struct TInputSeries;

// Loads BatchRun.InputFileName. No free slot, a video that does not open or an
// input that cannot be read sets EndOfRun.
void LoadNextInput();

// The input series of the run as the next-input routine reads it.
TInputSeries RunInputSeries();
// The input after `name` (which it becomes); false and "" when none follows.
bool NextRunInput(std::string& name);

// The name as the status window's first line shows it: longer than 30
// characters, "..." and the last 30.
std::string ShortInputName(const std::string& name);

}  // namespace astrelon
