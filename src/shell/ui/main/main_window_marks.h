#pragma once
// The main window's routines on the selections and marks of image windows.
namespace astrelon {

// Hides both selections and both point markers of the slot's window, empties
// status panel 1 and, in the several-marks mode, deletes the window's marks.
void HideWindowMarks(int slot);
// The window shows its first selection or marker and neither second one.
bool HasSingleMark(int slot);
// Puts the source window's selections (or, in the several-marks mode, its marks)
// at the same image places in the destination window; the destination's point
// markers are hidden. The destination gets as many marks as the source (at most
// 256): missing ones are made and surplus ones deleted. Returns 0.
int CopyMarksToWindow(int source, int destination);

}  // namespace astrelon
