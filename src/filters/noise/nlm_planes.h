#pragma once
// The planes the non-local-means filter compares patches on: per plane of a
// slot a 16-bit copy of its values on a scale of 0..levels, with the scale, the
// offset and the plane's noise level.
#include <array>
#include <cstdint>
#include <vector>

namespace astrelon {

struct TNlmPlane {
  float Scale = 0;   // levels per image unit
  float Offset = 0;  // level of the value 0
  float Noise = 0;   // noise level in image units
  std::vector<uint16_t> Levels;  // Width x Height; blank pixels are 0
};

struct TNlmPlaneSet {
  int32_t Slot = -1;
  int32_t ColorModel = 0;        // the slot's colour model and channel selection when prepared
  int32_t ChannelSelection = 0;
  int32_t Width = 0, Height = 0;
  int32_t PlaneCount = 0;
  std::array<TNlmPlane, 4> Plane;  // 1..PlaneCount
};

// The set the filter works from (read-only while its workers run).
extern TNlmPlaneSet NlmPlanes;

// The noise level the filter takes for a plane: the measured noise, or for a
// plane without noise (measured at most 0.01, or at most 1e-6 of the overall
// range) at least 0.005 of that range.
float NlmNoiseLevel(float measured, float range);

// Fills NlmPlanes for the slot after recomputing its minimum and maximum: per
// plane the noise (NlmNoiseLevel of the noise readout's clipped estimate from
// neighbouring pixels), scale = levels / (plane range + 0.01), offset = -minimum x
// scale, and the copy v x scale + offset rounded and held within 0..levels
// (at most 65535).
// A slot not in use leaves the set empty.
void PrepareNlmPlanes(int slot, int32_t levels);
// Frees the copies and forgets the noise.
void ReleaseNlmPlanes();

}  // namespace astrelon
