#pragma once
// The end of one input of a batch run: it is counted, saved as a result (runs
// without a target), its window closed or kept for the next image, and the
// next input chosen.
#include <string>

namespace astrelon {

// Finishes the current image; true when another input follows (the run goes
// on), false when the run is to end (EndOfRun, no further input, or the rest
// of the inputs listed for the stack combination at the end).
bool FinishImage();

// The count of finished images as the status window shows it: "1 Bild
// bearbeitet", "n Bilder bearbeitet".
std::string FilesDoneText(int count);

}  // namespace astrelon
