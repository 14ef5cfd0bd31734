#pragma once
// Blending of the stamp tools: the weight of an offset inside the stamp's disc
// and the five stamp modes ("paste", "max", "min", "add", "sub"), and the stamp
// of the side panel's cutout into an image.
#include <cstdint>
#include <vector>

#include "shell/stars/star_cutout.h"

namespace astrelon {

enum class TStampMode : int32_t { Paste = 0, Max = 1, Min = 2, Add = 3, Sub = 4 };

// w = 1 - d2² / R2² for d2 = dx² + dy² below R2 (computed in double, stored as float).
float StampWeight(int32_t d2, int32_t radiusSquared);
// The stamp radius: the rounded square root of the squared radius.
int32_t StampRadius(int32_t radiusSquared);

// One row of the disc: offsets -HalfWidth..HalfWidth at row offset Dy, with their weights.
struct TStampRow {
  int32_t Dy = 0;
  int32_t HalfWidth = 0;
  std::vector<float> Weights;  // index dx + HalfWidth
};
// The rows of the disc d2 < R2 (R2 >= 1 gives at least the centre).
std::vector<TStampRow> StampDisc(int32_t radiusSquared);

// Blends a source value s with weight w into the target pixel t. `a` is what add
// and sub add or take away ((s - stamp minimum) x w for the stamp, s x w for the
// copy stamp). A blank target takes s in paste and min and stays blank in add
// and sub; a blank source never reaches this routine.
inline void BlendStampPixel(float& t, float s, float a, float w, TStampMode mode) {
  const bool valid = t > -1e9f;
  switch (mode) {
    case TStampMode::Paste:
      t = valid ? (s - t) * w + t : s;
      break;
    case TStampMode::Max: {
      const float v = valid ? (s - t) * w + t : s;
      if (t < v) t = v;
      break;
    }
    case TStampMode::Min: {
      const float v = valid ? (s - t) * w + t : s;
      if (!valid || v < t) t = v;
      break;
    }
    case TStampMode::Add:
      if (valid) t += a;
      break;
    case TStampMode::Sub:
      if (valid) t -= a;
      break;
  }
}

// Stamps the cutout (picked at its pixel 15, 15) centred on image point (x, y)
// of the slot: the selected channels, up to 3 when the image is colour and the
// cutout holds three planes, else plane 1. Saves the square x-r..x+r, y-r..y+r
// for undo first and marks the data changed. Nothing when the cutout was never
// picked or the slot holds no image.
void ApplyStamp(int slot, int32_t x, int32_t y, TStampMode mode, const TStarCutout& cutout, int32_t radiusSquared);

}  // namespace astrelon
