#pragma once
// Where the pixels of one frame row of the colour-mosaic accumulation land:
// for a run of frame pixels, the target pixel each one splits over with its
// four bilinear weights (times the frame's weight), or none. A scalar loop and an AVX2 twin that give the
// same bits; the adding itself stays in frame order with the caller.
#include <cstdint>

namespace astrelon {

struct TSplatRow {
  const float* Values = nullptr;  // the frame row
  double C0 = 0, Y0 = 0;          // the target position of the row's first pixel
  double StepX = 0, StepY = 0;    // and its step per frame pixel
  double XLimit = 0, YLimit = 0;  // positions 0 <= X < XLimit, 0 <= Y < YLimit take part
  bool Used[2] = {false, false};  // the colour of even and odd columns has a plane
  int64_t R0 = 0, R1 = 0;         // the band of target rows
  int32_t TargetWidth = 0;
  float Shift = 0;   // added to every value
  float Weight = 1;  // the frame's weight: scales every bilinear weight
};

constexpr int32_t SplatRunLength = 256;

struct TSplatRun {
  // At: the target index of the upper left of the four pixels, -1 for a frame
  // pixel that takes no part; Iy its target row. Entry k of the pairs: at 2k
  // the left pixel's, at 2k + 1 the right one's weighted value (Top, Bottom)
  // and weight (TopWeight, BottomWeight) in the upper and the lower row.
  alignas(32) int32_t At[SplatRunLength];
  alignas(32) int32_t Iy[SplatRunLength];
  alignas(32) float Top[2 * SplatRunLength], TopWeight[2 * SplatRunLength];
  alignas(32) float Bottom[2 * SplatRunLength], BottomWeight[2 * SplatRunLength];
};

// Pixels first .. first + count - 1 (count <= SplatRunLength) of the row into
// run entries 0 .. count - 1; `first` even. The target must have fewer than
// 2^31 pixels.
void PrepareSplatRun(const TSplatRow& row, int32_t first, int32_t count, TSplatRun& run, bool vector);

}  // namespace astrelon
