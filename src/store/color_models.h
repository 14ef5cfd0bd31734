#pragma once
// Colour models of three-plane images: RGB and YUV
// (Y = 0.299 R + 0.587 G + 0.114 B, U = 0.493 (B - Y), V = 0.877 (R - Y)),
// switched in place. A pixel with any blank plane becomes blank in all three.
#include <cstddef>
#include <span>

#include "store/image_slot.h"

namespace astrelon {

// The weights of the forward conversion and the exact inverse coefficients
// (1/0.877, 0.299/(0.587·0.877), 0.114/(0.587·0.493), 1/0.493), as 32-bit floats.
inline constexpr float YuvWeightR = 0.299f, YuvWeightG = 0.587f, YuvWeightB = 0.114f;
inline constexpr float YuvScaleU = 0.493f, YuvScaleV = 0.877f;
inline constexpr float YuvToR_V = 1.1402508551881414f;
inline constexpr float YuvToG_V = 0.58080920903f;
inline constexpr float YuvToG_U = 0.39393070275f;
inline constexpr float YuvToB_U = 2.028397565922921f;

struct TRgbPixel {
  float R, G, B;
};

// One valid pixel; the vector paths compute the same operations in the same order.
inline TRgbPixel RgbToYuvPixel(float r, float g, float b) {
  const float y = YuvWeightR * r + YuvWeightG * g + YuvWeightB * b;
  return {y, YuvScaleU * (b - y), YuvScaleV * (r - y)};
}
inline TRgbPixel YuvToRgbPixel(float y, float u, float v) {
  return {y + YuvToR_V * v, y - YuvToG_V * v - YuvToG_U * u, y + YuvToB_U * u};
}

// A slot in use that holds a colour image with its three planes.
bool HasColourPlanes(int slot);
// Throws std::invalid_argument unless three runs of pixels have one length.
void CheckSameLength(size_t a, size_t b, size_t c);

// The conversions of runs of pixels in place (planes 1, 2, 3 of equal length);
// `vector` takes the four-pixel path, which gives the same bits.
void RgbToYuvRun(std::span<float> p1, std::span<float> p2, std::span<float> p3, bool vector);
void YuvToRgbRun(std::span<float> p1, std::span<float> p2, std::span<float> p3, bool vector);

// True when converted; false (nothing done) unless the slot is >= 1, a colour
// image and in the source model. Afterwards the model, the display type, the
// value range and histogram, "CTYPE3" and a history card "RGBtoYUV" or
// "YUVtoRGB" are updated and the window's undo entries dropped.
bool RGBtoYUV(int slot);
bool YUVtoRGB(int slot);
// A colour image switches to the other model (the result of that conversion);
// false for a grey image, which is left alone.
bool ToggleColorModel(int slot);
bool ColorModelsDiffer(int slot1, int slot2);
// Display type from the image: 1 grey, 9 colour in RGB, 11 colour in YUV.
void SetDisplayColorType(int slot);

// Drops the undo entries of a slot; set by the undo store when it exists.
extern void (*ReleaseWindowUndoHook)(int slot);

}  // namespace astrelon
