#pragma once
// The undo store of mouse edits in the image windows: copies of small rectangles
// of a slot's planes taken just before an edit, put back newest first by the undo
// button. Menu operations that change a slot drop that slot's entries instead.
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "store/image_slot.h"

namespace astrelon {

constexpr int32_t UndoEntryCount = 100;

struct TUndoEntry {
  std::array<TPlane, 3> Planes;              // planes 1..3 (index 0..2), (X2-X1+1) x (Y2-Y1+1) values, row-major
  int32_t Slot = -1;                         // -1 once used or released
  int32_t PlaneCount = 0;                    // the slot's plane count when saved
  int32_t X1 = 0, X2 = -1, Y1 = 0, Y2 = -1;  // inclusive, clipped to the image
};

// Entries numbered 1..UndoEntryCount (index 0 unused).
extern std::array<TUndoEntry, UndoEntryCount + 1> UndoEntries;

// Entry numbers in use, oldest first, newest last.
using TUndoList = std::vector<int32_t>;
extern TUndoList UndoList;

// The lowest number 1..100 that no list item names; 1 when the list is empty and
// also when all numbers are in use.
int32_t FindFreeUndoNumber();

// Saves the rectangle (inclusive; left, right, top, bottom) of the slot's planes,
// clipped to the image. With more than 99 items the oldest is dropped first. A
// slot not in use, or a rectangle wholly outside the image, stores nothing.
void PushUndo(int slot, int32_t x1, int32_t x2, int32_t y1, int32_t y2);

// Puts back the newest entry whose slot is still in use (entries of closed slots
// are dropped on the way) and marks that slot's data changed. Returns the slot
// restored, 0 when nothing was (also while running workers hold the newest
// entry's slot; the entry then stays). The caller re-renders the slot.
int UndoLastStep();

// Drops every entry of the slot.
void ReleaseWindowUndo(int slot);

// Drops every entry (shut-down and tests).
void ClearUndoStore();

// The undo button follows the list: enabled after a push, disabled when empty.
extern std::function<void(bool enabled)> UndoButtonHook;

}  // namespace astrelon
