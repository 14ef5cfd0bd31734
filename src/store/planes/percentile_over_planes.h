#pragma once
// Percentile levels of a whole image over its planes: the smallest (or largest)
// of the per-plane levels of a colour image, the level of plane 1 of a grey one.
namespace astrelon {

// Level at `percent` (0..100) of the valid pixels; for colour the smallest of planes 1..3.
float GetPercentileMinOverPlanes(int slot, float percent);
// As above, the largest of the per-plane levels.
float GetPercentileMaxOverPlanes(int slot, float percent);

}  // namespace astrelon
