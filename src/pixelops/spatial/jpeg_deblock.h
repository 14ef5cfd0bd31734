#pragma once
// Reduction of JPEG block artefacts: the image is rendered to 8 bits,
// re-compressed at the same quality at all 64 offsets of the 8 × 8 block grid,
// and the 64 decoded results are shifted back and averaged with weights that
// favour smooth 4 × 4 cells; a level ratio brings the average back to the
// image's values.
#include <cstdint>
#include <functional>
#include <span>

namespace astrelon {

// Called after each group of offsets with the position reached (1..64); false
// stops the rounds (the average is then taken over the rounds done).
using TDeblockPoll = std::function<bool(int position)>;

// One plane of width × height values (blank pixels allowed) deblocked into
// `out` (the same size; blank where the source is blank). Rounds run on
// `threads` workers; each pixel's sums are taken in offset order, so the result
// is the same at any count. False when the plane is too small or the JPEG coding
// fails. Throws std::bad_alloc when the buffers do not fit in memory.
bool JpegDeblockPlane(std::span<const float> source, int32_t width, int32_t height, int32_t quality,
                      std::span<float> out, int threads, const TDeblockPoll& poll = {});

// Plane 1 of `source` deblocked into plane 1 of `result` (an image of the same
// size), with the progress display of the result's window and the abort flag.
void JpegDeblock(int source, int result, int32_t quality);

// The whole reduction of `source` into `result` (a copy of it): a grey image is
// deblocked; of a colour image (converted from YUV to RGB in place first) the
// luma (0.299, 0.587, 0.114) is deblocked, and each plane becomes plane +
// (deblocked − luma) for quality 30 and more, below it deblocked + the colour
// difference (plane − luma) smoothed by the edge-preserving Gauss filter
// (threshold 100, radius 35 / (quality + 5)).
void ReduceJpegArtefacts(int source, int result, int32_t quality);

}  // namespace astrelon
