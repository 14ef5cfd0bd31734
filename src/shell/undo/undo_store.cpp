#include "shell/undo/undo_store.h"

#include <algorithm>

#include "store/color_models.h"
#include "store/image_store.h"
#include "store/slot_holds.h"

namespace astrelon {

std::array<TUndoEntry, UndoEntryCount + 1> UndoEntries;
TUndoList UndoList;
std::function<void(bool)> UndoButtonHook;

namespace {

void SetUndoButton(bool enabled) {
  if (UndoButtonHook) UndoButtonHook(enabled);
}

void FreeEntry(TUndoEntry& e) {
  for (TPlane& p : e.Planes) TPlane().swap(p);
  e.Slot = -1;
}

// Writes the entry back into its slot, only where it still lies inside the image.
void RestoreEntry(const TUndoEntry& e, TImageSlot& im) {
  const int planes = im.IsColor ? std::min(e.PlaneCount, 3) : 1;
  const int32_t w = e.X2 - e.X1 + 1;
  const int32_t x1 = std::max(e.X1, 0), x2 = std::min(e.X2, im.Width - 1);
  if (x2 < x1) return;
  for (int p = 1; p <= planes; ++p) {
    const TPlane& saved = e.Planes[size_t(p - 1)];
    if (im.Planes[size_t(p)].size() < im.PixelCount() || saved.size() < size_t(w) * size_t(e.Y2 - e.Y1 + 1)) continue;
    for (int32_t y = std::max(e.Y1, 0); y <= std::min(e.Y2, im.Height - 1); ++y) {
      const float* from = saved.data() + size_t(y - e.Y1) * size_t(w) + size_t(x1 - e.X1);
      std::copy(from, from + (x2 - x1 + 1), im.Row(p, y).begin() + x1);
    }
  }
}

}  // namespace

int32_t FindFreeUndoNumber() {
  for (int32_t n = 1; n <= UndoEntryCount; ++n)
    if (std::find(UndoList.begin(), UndoList.end(), n) == UndoList.end()) return n;
  return 1;
}

void PushUndo(int slot, int32_t x1, int32_t x2, int32_t y1, int32_t y2) {
  // The store's colour-model switches drop a slot's entries through this hook;
  // it only matters once an entry exists.
  ReleaseWindowUndoHook = &ReleaseWindowUndo;
  if (UndoList.size() > size_t(UndoEntryCount - 1)) UndoList.erase(UndoList.begin());
  if (!SlotInUse(slot)) return;
  const TImageSlot& im = Store.Image[size_t(slot)];
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  if (x2 >= im.Width) x2 = im.Width - 1;
  if (y2 >= im.Height) y2 = im.Height - 1;
  if (x2 < x1 || y2 < y1) return;
  const int planes = std::clamp(im.PlaneCount, 1, 3);
  const int32_t w = x2 - x1 + 1;
  // The copies are made before the entry changes, so that running out of memory
  // leaves the store as it was.
  std::array<TPlane, 3> copies;
  for (int p = 1; p <= planes; ++p) {
    if (im.Planes[size_t(p)].size() < im.PixelCount()) continue;
    TPlane& c = copies[size_t(p - 1)];
    c.resize(size_t(w) * size_t(y2 - y1 + 1));
    for (int32_t y = y1; y <= y2; ++y) {
      const auto row = im.Row(p, y).subspan(size_t(x1), size_t(w));
      std::copy(row.begin(), row.end(), c.begin() + ptrdiff_t(size_t(y - y1) * size_t(w)));
    }
  }
  const int32_t n = FindFreeUndoNumber();
  TUndoEntry& e = UndoEntries[size_t(n)];
  e.Planes = std::move(copies);
  e.PlaneCount = planes;
  e.Slot = slot;
  e.X1 = x1;
  e.X2 = x2;
  e.Y1 = y1;
  e.Y2 = y2;
  UndoList.push_back(n);
  SetUndoButton(true);
}

int UndoLastStep() {
  int restored = 0;
  while (restored == 0 && !UndoList.empty()) {
    const int32_t n = UndoList.back();
    TUndoEntry& e = UndoEntries[size_t(n)];
    const int s = e.Slot;
    // A slot that running workers hold keeps its planes; the entry waits.
    if (SlotHeldByWorkers(s)) break;
    if (!e.Planes[0].empty() && SlotInUse(s)) {
      TImageSlot& im = Store.Image[size_t(s)];
      RestoreEntry(e, im);
      im.DataChanged = 1;
      restored = s;
    }
    FreeEntry(e);
    UndoList.pop_back();
  }
  SetUndoButton(!UndoList.empty());
  return restored;
}

void ReleaseWindowUndo(int slot) {
  const bool had = !UndoList.empty();
  std::erase_if(UndoList, [slot](int32_t n) {
    TUndoEntry& e = UndoEntries[size_t(n)];
    if (e.Slot != slot) return false;
    FreeEntry(e);
    return true;
  });
  if (had && UndoList.empty()) SetUndoButton(false);
}

void ClearUndoStore() {
  for (TUndoEntry& e : UndoEntries) FreeEntry(e);
  UndoList.clear();
  SetUndoButton(false);
}

}  // namespace astrelon
