#pragma once
// Writing the display mapping into the image data.
namespace astrelon {

// Replaces every valid pixel by its displayed level, scaled to 0..targetMax (blank
// pixels stay blank); the display becomes the straight ramp 0..65535 afterwards.
void ApplyDisplayStretch(int slot, double targetMax);

}  // namespace astrelon
