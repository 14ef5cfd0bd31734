#pragma once
// The colour-mosaic conversion: a one-plane raw colour-mosaic image becomes a
// three-plane RGB image in a new slot, by the live settings (MosaicSettings).
#include <cstdint>

namespace astrelon {

// The result slot, or -1 when nothing was made: the source's plane is empty,
// fewer than two slots are free (48 images open), the image is 5 pixels or less
// in either direction, a number of the settings is not one (with a message), or
// the method's interpolation is not available. The caller shows the result.
int32_t GenerateRgbFromMosaic(int32_t source);

// Installs the conversion for the loader of own RAW layouts.
void InstallMosaicConversion();

}  // namespace astrelon
