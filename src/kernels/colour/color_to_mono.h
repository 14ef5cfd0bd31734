#pragma once
// A three-plane colour image turned into a one-plane grey image: the BT.601 luma
// mean of the valid planes, or a perceptual luminance (BT.709 weights on values
// linearised with the power 2.2), into another slot or in place.
#include <span>

#include "store/image_slot.h"

namespace astrelon {

// The image's value range for the linearisation: the slot's minimum and maximum,
// widened to the display black and white points when the image has a window.
struct TMonoRange {
  float Low = 0;
  float Range = 1;  // at least 0.01
};
TMonoRange MonoRangeOf(int slot);

// One run: `out` gets the grey value of each pixel of the three planes (RGB, or
// YUV with `yuv`; a YUV pixel with a blank plane is blank). Luma: Σ w·v / Σ w
// over the valid planes, w = 0.299, 0.587, 0.114. Luminance: over the valid
// components, L = Σ w·((v - lo) / range)^2.2 / Σ w with w = 0.2126, 0.7152,
// 0.0722 and (v - lo) / range at least 0; the grey value is L^(1/2.2)·range + lo.
// -1e11 where nothing is valid. `out` may be one of the inputs. `vector` takes
// the eight-pixel path where the processor has it, which gives the same bits.
void LumaRun(std::span<const float> r, std::span<const float> g, std::span<const float> b, std::span<float> out);
void LuminanceRun(std::span<const float> p1, std::span<const float> p2, std::span<const float> p3,
                  std::span<float> out, const TMonoRange& range, bool yuv, bool vector);

// The grey image of colour slot `source` in slot `destination` (>= 1), which may
// be the source itself. Another destination is closed first and receives the
// source's file name, header cards and display record (when the conversion
// fails on the way, for want of memory, it is left free); the grey slot's header becomes
// two-axis, its display type 1 and its camera channel multipliers 1.0. A YUV
// source in luma mode gives its Y plane as it is. False (nothing done) unless
// the destination is at least 1 and the source a colour image.
bool ConvertColorToMono(int source, int destination, bool luminance);

// The grey image that ConvertColorToMono (luma) would write, as a plane of its
// own, so that a routine needs no slot for it: the luma of a colour image's
// valid planes (its Y plane in the YUV model), plane 1 of a grey image as it is.
// Empty when the slot holds no image.
TPlane GreyPlaneOf(int slot);

// Closes a slot's window (or frees the slot without one); set by the user
// interface. Without it the slot is freed.
extern void (*CloseImageSlotHook)(int slot);

}  // namespace astrelon
