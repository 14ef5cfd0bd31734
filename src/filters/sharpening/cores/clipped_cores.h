#pragma once
// Clipped star cores: where a camera cut a star's top flat at its white level.
// Calibration leaves such a top flat but no longer level: a flat-field division
// scales it by the flat's slow change, a dark subtraction adds the dark's noise,
// and the cores of one picture may lie at different levels (a flat field's
// vignetting). A core is therefore told by its shape:
// - a flat top: at least ClippedPixelsAtLeast 4-connected pixels, each within
//   a hundredth of its height (above the plane's background) of a neighbour
//   among them and all within a twentieth of it below the highest, which no
//   pixel around stands above. An unclipped Gaussian star drops 3 % of its
//   height one pixel from its top even at a width (sigma) of 4 px; a flat field
//   changes a core slowly (vignetting by a tenth of a percent per pixel, its
//   pixels' own response by a few tenths), a dark's noise by a few hundredths
//   of a percent.
// - a wall: the pixels two beyond the top lie at least a tenth of the height
//   lower (their median). A clipped star falls by tens of percent of its height
//   per pixel at its clip radius; a limb-darkened planetary disc or a wide
//   galaxy core falls by a few percent there.
// - where the tolerance is less than CoreNoiseRoom times the plane's noise
//   (faint tops, coarse levels), noise may let any top agree within it: no
//   flat top is looked for there.
// - a rim: a stack of frames aligned by a cubic spline (or bicubic, Lanczos)
//   resampling leaves a clipped top a few percent higher at its edge than
//   inside, and softens its edge. Such a top is all the pixels less than a
//   wall's fall below its highest (4-connected, however they step, at least
//   SmallCorePixels), with a wall, holding a pixel that, along its row or its
//   column, pixels of the top standing more than the tolerance (and
//   CoreNoiseRoom noise levels) above it flank on both sides: a dip, which no
//   unclipped star, disc or galaxy top holds. Its core takes the pixels beside it standing less than a
//   wall's fall below its level too.
// Every pixel at the plane's clipping level (clipping_level.h) belongs to a
// core too, however few pixels of a star hold it, when that level stands
// clear of the noise (5 noise levels above the background). Where no value
// holds that level exactly (a stack), the cores found by their shape show
// where it lies: a top of SmallCorePixels or more pixels less than a wall's
// fall below its highest (a core of 3 or 4 clipped pixels, which an alignment
// smoothed), with its wall, reaching up to within CoreSpan of the lowest of
// their levels, is a core too: its pixels within CoreSpan of its height below
// its highest. On an 8-bit plane (whole values within 0..255) reaching within
// EightBitRoom levels of 255, every pixel within EightBitRoom levels of its
// maximum is clipped, and so are those beside them standing less than a
// wall's fall below their core's level: a JPEG's colour subsampling and
// blocks leave a clipped core a few levels below 255, unevenly, and soften its
// edge.
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

// The tolerance of a flat top from pixel to pixel and over all of it, and the
// fall of its wall, as fractions of its height above the background.
constexpr float CoreFlatness = 0.01f;
constexpr float CoreSpan = 0.05f;
constexpr float CoreWallFall = 0.1f;
constexpr float CoreNoiseRoom = 4.0f;
constexpr int64_t SmallCorePixels = 3;
constexpr float EightBitRoom = 8.0f;

// One core: its pixels (indices into the plane) and its level (the highest).
struct TClippedCore {
  std::vector<int64_t> Pixels;
  float Level = 0;
};

// The cores of a w x h plane of background `background`, noise `noise` and
// clipping level `clip` (+infinity: none).
std::vector<TClippedCore> FindClippedCores(std::span<const float> plane, int32_t w, int32_t h, float background,
                                           float noise, float clip);

}  // namespace astrelon
