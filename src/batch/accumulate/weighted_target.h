#pragma once
// A target of the weighted accumulations: an image slot whose planes hold
// sums of weighted samples while a run lasts, one weight plane per colour
// plane, the target level per plane (the first frame's 30 % level), and for
// colour-mosaic frames the pattern and the red and blue factors.
#include <array>
#include <cstdint>
#include <vector>

#include "kernels/mosaic/mosaic_settings.h"

namespace astrelon {

struct TWeightedTarget {
  int Slot = -1;       // the accumulation's slot; -1 when there is none
  bool Bayer = false;  // colour-mosaic frames into an RGB target
  int32_t Width = 0, Height = 0;
  std::array<std::vector<float>, 3> Weights;  // planes 1..3 at index 0..2
  std::array<float, 4> Level{};               // index 1..3
  TMosaicCells Pattern{};
  double RedFactor = 1, BlueFactor = 1;

  bool Exists() const;
  // Frees the weight planes.
  void ReleaseWeights();
  // A preparation that failed: the weight planes and the half-made slot go.
  void Abandon(int slot);
};

// The Bayer-special accumulation and the double-size ("Swarp") one.
extern TWeightedTarget BayerTarget;
extern TWeightedTarget SwarpTarget;

// The level of a whole plane at 30 % of its histogram.
float PlaneLevel30(int slot, int plane);

}  // namespace astrelon
