#pragma once
// The per-pixel step of DDP, the brightness compression in the manner of a
// photographic development: every pixel is divided by a blurred copy of the
// image plus an offset, so that bright extended regions are compressed while
// small details keep their contrast.
#include <cstddef>
#include <span>

namespace astrelon {

// The figures of one pass: black level B, offset c, gain k and the lowest
// value a result may take.
struct TDdpFigures {
  float Black = 0, Offset = 0, Gain = 1, Floor = 0;
};

// The offset c = 0.1 (60 - g) A and the gain k = 1.2 (c + A) for "Gammawert:"
// position g and range A.
TDdpFigures DdpFigures(int gammaPosition, float black, float range, float floor);

// out[i] = (s - B) / max((b - B) + c, 0.1) k + B, at least the floor, for every
// valid source value s = in[i] with its valid blurred value b = blur[i]; other
// pixels keep out[i]. `vector` takes the four-wide loop, which gives the bits of
// the scalar one.
void DdpRun(std::span<const float> in, std::span<const float> blur, std::span<float> out, const TDdpFigures& f,
            bool vector);

// The same over whole planes of `count` pixels, rows in bands over the cores
// (one when `multicore` is false), with the same result.
void DdpPlane(const float* in, const float* blur, float* out, size_t count, const TDdpFigures& f, bool multicore);

}  // namespace astrelon
