#pragma once
// Where a plane was clipped: the level at which its star cores (and bleeding
// columns) were cut flat. Such pixels hold nothing to sharpen: the iterative
// sharpenings leave them as they are.
#include <cmath>
#include <cstdint>
#include <span>

namespace astrelon {

// At least this many pixels at the plane's maximum make it a clipping level.
// Fewer may be a star's top by chance: an unclipped star centred between four
// pixels has four equal tops in noise-free data. A clipped core of any star
// holds five (its centre and four neighbours) once its radius reaches one
// pixel, and all pixels at the level count together, so one clipped star
// beside others is found however small it is.
constexpr int64_t ClippedPixelsAtLeast = 5;

// The plane's largest valid value when at least ClippedPixelsAtLeast pixels
// hold it exactly; else +infinity (no pixel is clipped). A pixel is clipped
// when its value is at least (that is: equals) the level.
float ClippingLevel(std::span<const float> plane);

inline bool IsClipped(float v, float clip) { return v >= clip; }

}  // namespace astrelon
