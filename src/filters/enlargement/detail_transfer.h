#pragma once
// The detail transfer of the "hi-f" two-times enlargement. Every textured
// pixel's patch is compared, after both are normalised by their mean and
// spread, with the patches of the low-pass model of the source sampled at a
// step of 2 around it (twice the area); the source pixels at the best match
// then serve as the example for the enlarged pixels, blended in with a weight
// that falls with the remaining mismatch and rises with the strength. The
// direction in which the good matches lie goes into a direction map.
#include <cstdint>
#include <functional>
#include <span>

#include "filters/enlargement/hif_tables.h"
#include "store/image_slot.h"

namespace astrelon {

// What the transfer reads.
struct TDetailInputs {
  std::span<const float> M;  // the grey copy of the source, Width x Height
  std::span<const float> L;  // its low-pass model, Width x Height
  std::span<const float> E;  // sinc: the grey copy of the base enlargement, 2 Width x 2 Height
  int32_t Width = 0, Height = 0;
  THiFVariant Variant = THiFVariant::Tri;
  int32_t Strength = 3;  // 1..10
  double Noise = 1;      // the source's noise
  double Base = 0;       // B0, the level colour results are measured from
};

// The pixels a variant visits: source pixels 4..W-6 x 4..H-6 (tri), result
// pixels 8..2W-11 x 8..2H-11 (sinc); empty below 10 rows or columns.
struct TVisitedRange {
  int32_t X0 = 0, X1 = -1, Y0 = 0, Y1 = -1;  // inclusive
};
TVisitedRange VisitedRange(const TDetailInputs& in);

// The findings at one visited pixel.
struct TDetailPixel {
  bool Flat = true;           // nothing transferred, direction byte 0
  double Mean = 0, Sigma = 0;  // own statistics of the full window (after the outliers)
  double Scale1 = 0, MeanS = 0;
  double Q = 3.0;                     // 3 less the cuts of the trimmed window
  int32_t Left = -2, Right = 3, Top = -2, Bottom = 3;
  int32_t Dx = 0, Dy = 0;             // the best candidate's offset
  double Error = 1e18;                // its error E*
  double MeanC = 0, Gain = 0, Blend = 0;
  uint8_t Direction = 0;
};

// Steps 1 to 7 of the transfer at the visited pixel (X, Y) without writing
// anything. `vector` takes the eight-candidate loops, which give the same bits.
TDetailPixel AnalyseDetailPixel(const TDetailInputs& in, int32_t X, int32_t Y, bool vector);

// Transfers the detail into `result` (2W x 2H, one plane grey, three colour in
// the colour model `colorModel`) and writes the direction map (W x H for tri,
// 2W x 2H for sinc; flat and unvisited pixels 0). The rows are taken in
// chunks, whose rows the threads (all cores unless "Multicores" is off) take
// one at a time; a visited pixel writes only its own block or pixel and map
// byte, so the result does not depend on the thread count. poll(last row
// done) runs in the calling thread between chunks; false stops the transfer
// (the function then returns false).
bool TransferDetail(const TDetailInputs& in, TImageSlot& result, int32_t colorModel, std::span<uint8_t> directions,
                    const std::function<bool(int32_t row)>& poll, bool vector);

}  // namespace astrelon
