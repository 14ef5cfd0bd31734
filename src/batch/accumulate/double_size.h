#pragma once
// The double-size ("Swarp") accumulation: frames added into a target of
// (2w - 1) x (2h - 1) pixels, each target pixel sampling the frame with the
// drop footprint at its half position, with a weight per pixel; normalised at
// the end.
namespace astrelon {

struct TFrameAlignment;

// "Nicht genug Speicher": what a preparation that the free memory cannot hold says.
inline constexpr const char* NotEnoughMemoryText = "Nicht genug Speicher";

// Makes the accumulation from the first frame (taken from its slot): a new
// slot whose pixel (i, j) holds the footprint sample at (i / 2, j / 2) and the
// sample's weight; the frame's 30 % level per plane. An accumulation left
// from before is closed first. The free memory is asked first. False (nothing
// left behind) when no slot is free ("Es sind zu viele Bilder geöffnet") or
// the memory does not hold it ("Nicht genug Speicher").
bool PrepareDoubleSizeTarget(int frameSlot);

// Adds a frame: every target pixel whose frame position (the alignment at
// half the target position) lies in 0 <= x < width - 1.61, 0 <= y < height -
// 1.61 takes the footprint sample s with weight W > 0 as (s / W + target
// level - frame level) W, replacing a value whose weight is still 0 and added
// otherwise; W adds to the weight. Both are scaled by `frameWeight` (1 full).
// A grey frame feeds plane 1. Rows run on worker threads.
void AddToDoubleSizeTarget(int frameSlot, const TFrameAlignment& alignment, float frameWeight = 1);

}  // namespace astrelon
