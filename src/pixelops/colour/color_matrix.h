#pragma once
// Mixing the three planes of an RGB image by a 3 × 3 matrix given in percent:
// each new plane is a weighted sum of the old red, green and blue.
#include <array>

namespace astrelon {

// The matrix row by row: new red from old red, green, blue; then new green;
// then new blue. Values in percent; the identity by default.
struct TColorMatrix {
  std::array<double, 9> Percent{100, 0, 0, 0, 100, 0, 0, 0, 100};
  bool operator==(const TColorMatrix&) const = default;
};

// The matrix of the colour-correction dialog (its fields) and of the batch,
// which reads a ".qzf" file into it.
extern TColorMatrix ColorCorrection;

// Destination planes 1..3 from the source planes by the matrix, for every pixel
// whose three source values are valid (each weight held within +-FactorLimit
// of float_range.h); other pixels keep the destination's
// values. The source is not changed. False (nothing changed) unless both slots
// are in use, hold three planes and have the same size.
bool ApplyColorMatrix(int source, int destination, const TColorMatrix& matrix);

}  // namespace astrelon
