#pragma once
// Subtraction of a dark frame (normally a master dark) from an image, with the
// dark's thermal signal optionally scaled to the image (temperature
// compensation) and the pixels the dark marks as hot optionally repaired.
#include <cstdint>
#include <span>
#include <string>

namespace astrelon {

// The options of a dark subtraction, as the menu items carry them in their tag.
enum class TDarkOptions : int32_t {
  Plain = 0,
  HotPixelRepair = 1,
  TemperatureCompensation = 2,
  TemperatureAndHotPixels = 3,
};
constexpr bool HasHotPixelRepair(TDarkOptions o) { return (int32_t(o) & 1) != 0; }
constexpr bool HasTemperatureCompensation(TDarkOptions o) { return (int32_t(o) & 2) != 0; }

// The batch's Bayer mode: a batch runs, its current step adds to the target and
// it has at least one star mark. Hot pixels then become blank instead of being
// repaired (the frames are stacked, so the gap is filled by the others).
bool BatchBayerMode();

// Subtracts the dark in place from every plane of the image (a one-plane dark
// serves every plane, a colour dark's plane p serves plane p), over the rows
// and columns both images have:
//   x := x - d, or with temperature compensation x := x - (d - b) k - b,
// b the dark plane's 30 % level and k = ComputeDarkScale. A blank image pixel
// stays blank, a blank dark pixel blanks it. Then, with hot-pixel repair, the
// hot dark pixels at least two pixels from every border are repaired in the
// image (threshold offset: the dark plane's noise x 1.5 x "Hotpixel Sigma"; a
// one-plane image that is a colour mosaic is repaired from same-colour cells).
// Nothing happens when darkSlot < 1 or either slot is not in use; a dark whose
// width or height differs from the image's is refused with DarkSizeDiffersText
// (the image stays as it was). False when nothing was subtracted.
bool SubtractDarkFrame(int imageSlot, int darkSlot, bool temperatureCompensation, bool hotPixelRepair);
inline bool SubtractDarkFrame(int imageSlot, int darkSlot, TDarkOptions options) {
  return SubtractDarkFrame(imageSlot, darkSlot, HasTemperatureCompensation(options), HasHotPixelRepair(options));
}

// The message that refuses a dark of another size than the image.
std::string DarkSizeDiffersText(int32_t width, int32_t height, int32_t darkWidth, int32_t darkHeight);
// Whether the dark has the image's width and height; shows DarkSizeDiffersText when not.
bool DarkSizeFits(int imageSlot, int darkSlot);

// One row: x := x - d, or with `compensate` x - (d - level) scale - level (in
// double), blank rules as above. `vector` takes the eight-wide path where the
// processor has it; it gives the scalar loop's values.
void SubtractDarkRow(std::span<float> image, std::span<const float> dark, bool compensate, double scale,
                     double level, bool vector);

}  // namespace astrelon
