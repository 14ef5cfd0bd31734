#pragma once
// Copy, sum or difference of two slots' rectangles written into a third slot
// (the non-local-means filter combines its partial results this way).
#include <cstdint>
#include <span>

#include "store/image_store.h"

namespace astrelon {

// Operation codes of CombineRegionPixels.
constexpr int32_t CombineCopy = 0;      // Dest = A
constexpr int32_t CombineAdd = 1;       // Dest = A + B, blank where A is blank
constexpr int32_t CombineSubtract = 2;  // Dest = A - B, blank where A is blank

// One run of pixels: d[i] from a[i] and b[i] (b unread for a copy). B is not
// tested for blanks. `vector` takes the SSE2 path, which gives the same values
// as the scalar one. The runs may be the same memory.
void CombineRun(std::span<const float> a, std::span<const float> b, std::span<float> d, int32_t op, bool vector);

// For each channel selected in SlotB's display record, rows Top..Bottom and
// columns Left..Right (inclusive) of SlotDest become the operation of SlotA and
// SlotB. All three slots must be in use with the same width and plane count and
// hold the rectangle; otherwise, and for any other op, nothing is written and
// the result is false. Rows are split over the cores ("Multicores").
bool CombineRegionPixels(int slotA, int slotB, int slotDest, const TRectI& rect, int32_t op);

}  // namespace astrelon
