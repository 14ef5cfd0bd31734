#pragma once
// Artificial noise added to an image: Gaussian or uniform, white or low-passed,
// of one strength or scaled with the image brightness.
#include <cstdint>
#include <string>

namespace astrelon {

enum class TNoiseDistribution : int32_t { Gauss = 0, Random = 1 };

struct TNoiseSettings {
  double Amount = 10.0;  // standard deviation of the noise
  TNoiseDistribution Distribution = TNoiseDistribution::Gauss;
  bool LowPass = false;           // "Tiefpass": neighbouring values correlated
  bool BrightnessScaled = false;  // "Stärke der Bildhelligkeit anpassen"
};

// The settings of the last completed computation (Valid after the first one)
// and whether a computation is running.
struct TSyntheticNoiseState {
  bool Busy = false;
  bool Valid = false;
  TNoiseSettings Last;
};
extern TSyntheticNoiseState SyntheticNoise;

// Writes source + noise (its amount held within +-FactorLimit of
// float_range.h) into `destination` (an image of the source's size) over
// the working rectangle of the destination's window. The planes of the
// destination's channel selection get a noise field of their own; the others
// are copied from the source. Blank source pixels leave the destination pixel
// as it is. With the brightness switch the noise at value v is multiplied by
// sqrt((v − o) / r), o and r taken from the source's value range. Pending events
// are handled between steps of about eight million values per thread (pieces of rows
// of every plane, which the threads take in turn); the program-wide abort flag
// stops the computation there (false, the destination partly written).
// True when it ran to the end; the settings are then kept as the last ones.
// The noise is the same for a given seed whatever the number of threads.
bool AddSyntheticNoise(int source, int destination, const TNoiseSettings& settings);
bool AddSyntheticNoise(int source, int destination, const TNoiseSettings& settings, uint64_t seed);

// The amount shown for a position 0..100 of the strength slider: ((100 − position) / 3)²
// with two decimals ("9.00" at 91).
std::string NoiseAmountText(int position);

}  // namespace astrelon
