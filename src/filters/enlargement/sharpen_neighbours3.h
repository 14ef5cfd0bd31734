#pragma once
// A normalised 5 x 5 sharpening with four neighbour weights: the direct
// neighbours (0, +-1), (+-1, 0), the diagonal ones (+-1, +-1), those two steps
// along the axes (0, +-2), (+-2, 0) and the eight knight's moves (+-1, +-2),
// (+-2, +-1); the centre weighs 1 and the corners of the square nothing. With
// negative weights it is a high boost that leaves flat areas as they are.
#include <cstdint>
#include <span>

namespace astrelon {

struct TNeighbourWeights {
  float Direct = 0, Diagonal = 0, Straight2 = 0, Knight = 0;
};

// Every valid pixel c of rows and columns 2 .. size - 3 of a w x h plane
// becomes sum(w v) / sum(w) over itself and its valid weighted neighbours, all
// as they were before the call, when the weight sum is positive; it is computed
// as c + sum(w (v - c)) (1 / sum(w)), so that flat areas stay exactly as they are.
// The differences of a kind are added first (a blank neighbour adding 0), then
// the kinds in the order above. Blank pixels and the outer two rows and
// columns stay. Rows run in bands (all cores unless "Multicores" is off) and
// keep only five rows of old values each; `vector` takes the eight-pixel loop.
// The result is the same for every split and path.
void SharpenNeighbours3Plane(std::span<float> plane, int32_t w, int32_t h, const TNeighbourWeights& weights,
                             bool vector);

// Every plane of the slot in place.
void SharpenNeighbours3(int slot, double direct, double diagonal, double straight2, double knight);

}  // namespace astrelon
