#pragma once
// Halving and doubling the levels of a Laplacian pyramid. Both work separably
// and leave blank pixels (<= -1e9) out of every weighted mean; an output with no
// valid input is blank (-1e11).
//  - Reduce (w x h to (w+1)/2 x (h+1)/2, rows first): output x is the mean of the
//    samples 2x-2 .. 2x+2 with weights 1/6, 2/3, 1, 2/3, 1/6 (those that exist).
//  - Expand (n to m = 2n or 2n-1 samples, columns first): output 2i is the mean
//    of s[i-1], s[i], s[i+1] with weights 1/6, 1, 1/6; output 2i+1 the mean of
//    s[i] and s[i+1], or s[n-1] itself for the last one when m = 2n.
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

// A plane of w x h values whose rows lie `stride` values apart.
struct TPlaneView {
  float* Data = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  int64_t Stride = 0;
  float* Row(int32_t y) const { return Data + int64_t(y) * Stride; }
};

// Length of a level reduced once.
constexpr int32_t ReducedLength(int32_t n) { return (n + 1) / 2; }

// Reduces `src` into `dst` (of the reduced size); `rows` holds the row-reduced
// plane between the passes.
void ReduceLevel(const TPlaneView& src, const TPlaneView& dst, std::vector<float>& rows, int threads);

// What an expansion does with each expanded value e and the detail value d of
// the same pixel (where either is blank, dst := d).
enum class TExpandInto {
  Store,       // dst := e (no detail)
  AddToDetail, // dst := d x gain + e (rebuilding a level)
  FromDetail,  // dst := d - e (the detail layer of a level being built)
};

// Expands `src` to the size of `dst` (each side 2n or 2n - 1 of the source's n),
// each output row down the columns and then along the row, into `dst` as `into`
// says; `detail` has dst's size and may be dst itself, `src` must not overlap dst.
void ExpandLevel(const TPlaneView& src, const TPlaneView& dst, int threads, TExpandInto into = TExpandInto::Store,
                 const TPlaneView* detail = nullptr, float gain = 1.0f);

}  // namespace astrelon
