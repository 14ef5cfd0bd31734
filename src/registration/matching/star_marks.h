#pragma once
// The star marks that multi-star alignment works on: per slot the positions of
// its window's marks as measured (the window itself keeps only their boxes),
// the stored reference positions used when the reference image has no open
// window, and the pair index that gives each mark of the current image its
// partner among the reference marks.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/batch_series.h"
#include "kernels/alignment/float_point.h"
#include "store/image_store.h"

namespace astrelon {

struct TMarkList {
  std::vector<TFloatPoint> Points;  // image pixels
  std::vector<uint8_t> Measured;    // the position was measured (or given) since the box was placed
  std::vector<TRectI> Boxes;        // the window's box of each mark when it was last read or moved
  std::vector<double> Fluxes;       // the flux of each mark's star as measured (0: unknown)
  int32_t Count = 0;                // marks in use; the arrays may hold more

  // Makes room for at least n marks (new ones unmeasured, at (0, 0)).
  void Reserve(int32_t n);
  std::span<const TFloatPoint> Used() const { return {Points.data(), size_t(Count)}; }
};

// The marks of each slot (index = slot number).
extern std::array<TMarkList, SlotArraySize> WindowMarks;

struct TReferenceMarks {
  TMarkList Stored;                 // reference positions when no reference window is open
  std::vector<uint16_t> PairIndex;  // per mark of the current image: its partner's index
};
extern TReferenceMarks ReferenceMarks;

// Whether the slot is in use and shows an image window.
bool IsOpenWindow(int slot);
// The marks of `reference`: its window's when it is an open window, else the stored ones.
TMarkList& ReferenceMarkList(int reference);

// Takes the marks of the slot's window: their count, and for every mark whose
// box differs from the one last seen (a new or moved mark) its box, the box's
// centre as position and the measured flag cleared. Nothing without an open window.
void ReadWindowMarks(int slot);
// Moves the box of mark k of the slot's window, keeping its size, so that it is
// centred on the mark's position rounded to whole pixels, and remembers the box.
void ShowMarkAt(int slot, int k);

// Marks set on an image window: 0 when the slot is not in use; in multipoint
// mode its mark count; otherwise 0, 1 or 2 by which of the window's two marks
// are shown (a mark counts when its selection shape or its marker is visible).
int CountWindowMarks(int window, bool multipoint);
// Moves selection shape k (1 or 2) of the slot's window so that it is centred
// on the image position, keeping its size.
void PlaceMarkShape(int window, int k, TFloatPoint position);

// Installs star pairs as marks: the window's marks take the (Xa, Ya) positions,
// the reference marks (the reference window's, or the stored ones) the (Xb, Yb)
// positions, mark k pairs with reference mark k, and the count of both becomes
// the number of pairs; every installed mark counts as measured.
void InstallMarkPairs(std::span<const TMarkPair> pairs, int reference, int window);
// The pairs of frame i of the run (BatchMarkPairs) installed by InstallMarkPairs;
// a frame without a record installs none.
void ApplyShiftListMarks(int i, int reference, int window);

// The pairs that the pair index makes of the window's first n marks: Xa, Ya
// the partner among the reference marks, Xb, Yb the window's mark.
std::vector<TMarkPair> MatchedMarkPairs(int window, int reference);

}  // namespace astrelon
