#pragma once
// Row kernels of the renderer: float values to table indices, and the luma
// display of colour images. Each has a scalar path and an SSE2 path (grey
// pictures also two AVX2 paths) with the same results.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace astrelon {

// index = round((v - black) * scale), the product clamped to 0..65535 in floating
// point first; blank values (v <= -1e9, NaN) give BlankIndex (65536).
void ComputeLutIndices(std::span<const float> values, float black, float scale, std::span<uint32_t> out,
                       bool vector);

// Values through a byte table (65,537 entries, the last for blank values, then
// ByteLutSpare bytes that the vector path may read) into every `step`-th byte of
// out: out[step * i] = lut[index of values[i]].
constexpr size_t ByteLutSpare = 3;
// A byte table whose entries 0..65535 never decrease, kept as its steps: the
// byte of index i is Base plus the number of steps k (1..255) with
// Last[k] < i, Last[k] being the last index below the byte Base + k (65535
// when there is none). Level[j][c] = Last[c 2s + s] with s = 128 >> j: the
// entries a binary search meets on its level j, for AVX-512 permutes.
struct TByteLutSteps {
  bool Usable = false;  // the table never decreases
  uint8_t Base = 0;
  alignas(64) std::array<std::array<uint16_t, 128>, 8> Level{};
};
// The steps of a table of LutSize entries (Usable false when it decreases somewhere).
TByteLutSteps ByteLutSteps(std::span<const uint8_t> lut);

// The vector path of one byte a value: with AVX-512 and the table's steps a
// binary search in registers (no loads from the table); else the AVX2 path
// looks up with gathers or with single loads, whichever a timing on this
// processor found faster. Tests may choose.
enum class TGreyLookups { Fastest, Gather, SingleLoads, Steps };
extern TGreyLookups GreyLookups;
void MapThroughByteLut(std::span<const float> values, float black, float scale, const uint8_t* lut,
                       std::span<uint8_t> out, int step, bool vector, const TByteLutSteps* steps = nullptr);

struct TLumaMapping {
  float Black = 0;
  float IndexScale = 0;  // 65535 / d
  float Offset = 0;      // 0.01 * d, keeps the ratio finite at luma 0
  float OutScale = 0;    // 255 / d
  const float* Lut = nullptr;  // 65,536 luma outputs in 0..d
  bool Yuv = false;
};

// One row of a colour image through the luma table: planes 1..3 in, blue, green,
// red bytes out. RGB: each channel keeps its distance from the luma, scaled by
// the luma's gain; a blank plane gives 0 in its channel. YUV: Y through the
// table, U and V scaled by the gain and turned into RGB.
void MapLumaRow(std::span<const float> p1, std::span<const float> p2, std::span<const float> p3,
                std::span<uint8_t> bgr, const TLumaMapping& m, bool vector);

}  // namespace astrelon
