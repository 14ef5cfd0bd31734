#pragma once
// Slot handling shared by the spectrum routines: the spectrum layout of a slot,
// copying a slot's record without its planes, and the worker count.
#include <array>
#include <cstdint>
#include <functional>

#include "store/image_slot.h"

namespace astrelon {

// Layout of a spectrum image (width N + 2, height M): column k (0 .. N/2) holds
// the real part of horizontal bin k, column Half() + k its imaginary part. The
// mixed-radix family keeps vertical bin 0 in row M/2, the power-of-two family in row 0.
struct TFftImage {
  int32_t N = 0;  // horizontal transform length
  int32_t M = 0;  // vertical transform length
  int32_t Width() const { return N + 2; }
  int32_t Half() const { return N / 2 + 1; }
  // Mixed-radix family: the row of vertical bin b and the bin of row r.
  int32_t RowOfBin(int32_t b) const { return b < M - M / 2 ? b + M / 2 : b - (M - M / 2); }
  int32_t BinOfRow(int32_t r) const { return r >= M / 2 ? r - M / 2 : r + (M - M / 2); }
  // The layout of a slot of width W (N = W − 2) and height H.
  static TFftImage OfSize(int32_t W, int32_t H) { return {W - 2, H}; }
};

// A plane of `values` floats, uninitialised; std::bad_alloc when they exceed the
// free memory (or the address space).
TPlane NewSpectrumPlane(uint64_t values);

// Copies slot src's record, header, display record and name into dst as
// CopyImageSlot does, but none of its planes (dst's planes are emptied).
void CopySlotRecordOnly(int src, int dst);

// The planes of an inverse transform of a spectrum slot (rows of width W): each
// plane of the channel selection by invert(p, out), which fills fh rows of
// width W, cut to fw values a row; the other planes the spectrum's top-left
// fw × fh corner. std::bad_alloc when they do not fit in memory.
std::array<TPlane, 4> InversePlanes(int spectrum, int64_t W, int32_t fw, int32_t fh,
                                    const std::function<void(int plane, float* out)>& invert);
// Puts those planes into `destination` as an fw × fh image (a slot not in use
// takes the spectrum's record first) and returns it.
int StoreInverse(int spectrum, int destination, std::array<TPlane, 4>& planes, int32_t fw, int32_t fh);

// Workers for `items` independent lines of `lineCost` values each: one without
// the "Multicores" setting, else enough that each gets a fair share.
int SpectrumThreads(int64_t items, int64_t lineCost);

}  // namespace astrelon
