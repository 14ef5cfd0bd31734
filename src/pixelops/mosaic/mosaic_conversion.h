#pragma once
// The colour-mosaic conversion: a one-plane raw colour-mosaic image becomes a
// three-plane RGB image in a new slot, by the live settings (MosaicSettings).
#include <cstdint>
#include <optional>

#include "kernels/mosaic/mosaic_settings.h"

namespace astrelon {

// The numbers of the settings' texts ("," or "." as the decimal separator).
struct TMosaicNumbers {
  double RedRatio = 1, BlueRatio = 1, G1mul = 1, Bias = 0, Rmul = 1, Bmul = 1;
};
// nullopt, with a message naming the text, when one is not a number that a
// float holds. The multipliers are held within +-FactorLimit (float_range.h).
std::optional<TMosaicNumbers> ReadMosaicNumbers(const TMosaicSettings& s);

// The result slot, or -1 when nothing was made: the source's plane is empty,
// fewer than two slots are free (48 images open), the image is 5 pixels or less
// in either direction, a number of the settings is not one (with a message), or
// the method's interpolation is not available. The caller shows the result.
int32_t GenerateRgbFromMosaic(int32_t source);

// Installs the conversion for the loader of own RAW layouts.
void InstallMosaicConversion();

}  // namespace astrelon
