#pragma once
// A grey image made into an RGB image of three equal planes, in place.
namespace astrelon {

// Copies plane 1 into planes 2 and 3 and makes the slot a colour image in the
// RGB model with a three-axis header and the display type "colour in RGB".
// False (nothing changed) for a slot not in use or already in colour.
bool ExpandMonoToRgb(int slot);

}  // namespace astrelon
