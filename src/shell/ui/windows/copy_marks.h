#pragma once
// Copying the selections and marks of one image window to another (a result
// window gets the selection of the window it was made from).
namespace astrelon {

// Shows the source window's selections (in several-marks mode its marks) at the
// same image places in the destination window, whose point markers are hidden.
// Both are slots with windows; anything else does nothing. Returns 0.
int CopyMarksToWindow(int source, int destination);

}  // namespace astrelon
