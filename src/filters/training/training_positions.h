#pragma once
// The training's choice of positions: random pixels whose 7 x 7 window lies
// inside the image (and inside a chosen rectangle), weighted towards
// structure.
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "filters/training/structure_map.h"
#include "store/image_store.h"

namespace astrelon {

class TTrainingPositions {
public:
  // `areas`: rectangles (inclusive image coordinates) the positions keep to;
  // none: the whole image. With two, each draw picks one with a probability
  // by its area.
  TTrainingPositions(TStructureMap map, std::vector<TRectI> areas);

  // The next position: drawn until the structure bytes of the drawn pixels
  // add up to 135 or more; the last one drawn is used. False when the image
  // (or every rectangle) is too small for a window. Pixels are drawn a few
  // ahead of their use, so that their structure bytes are fetched early.
  bool Next(std::mt19937& rng, int32_t& x, int32_t& y);

private:
  struct TCandidate {
    int32_t X = 0, Y = 0;
  };
  void Draw(std::mt19937& rng, TCandidate& c) const;

  TStructureMap map_;
  std::array<TCandidate, 8> ahead_{};
  size_t head_ = 0;
  bool filled_ = false;
  std::vector<TRectI> areas_;  // clipped to where a window fits
  std::vector<double> weights_;
  uint32_t accumulated_ = 0;
};

}  // namespace astrelon
