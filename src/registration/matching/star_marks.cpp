#include "registration/matching/star_marks.h"

#include <algorithm>

#include "common/clamp_round.h"

namespace astrelon {

std::array<TMarkList, SlotArraySize> WindowMarks;
TReferenceMarks ReferenceMarks;

namespace {

bool SameRect(const TRectI& a, const TRectI& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

TImageWindowLink* LinkOf(int slot) { return IsOpenWindow(slot) ? Store.Window[size_t(slot)] : nullptr; }

}  // namespace

void TMarkList::Reserve(int32_t n) {
  const size_t want = size_t(std::max(n, 0));
  if (Points.size() >= want) return;
  Points.resize(want);
  Measured.resize(want, 0);
  Boxes.resize(want);
  Fluxes.resize(want, 0.0);
}

bool IsOpenWindow(int slot) {
  return SlotInUse(slot) && Store.HasWindow[size_t(slot)] && Store.Window[size_t(slot)] != nullptr;
}

TMarkList& ReferenceMarkList(int reference) {
  return IsOpenWindow(reference) ? WindowMarks[size_t(reference)] : ReferenceMarks.Stored;
}

void ReadWindowMarks(int slot) {
  const TImageWindowLink* link = LinkOf(slot);
  if (!link) return;
  TMarkList& list = WindowMarks[size_t(slot)];
  const int n = std::clamp(link->MarkCount(), 0, 65535);
  list.Reserve(n);
  list.Count = n;
  for (int k = 0; k < n; ++k) {
    TRectI box;
    if (!link->MarkImageRect(k, box) || SameRect(box, list.Boxes[size_t(k)])) continue;
    list.Boxes[size_t(k)] = box;
    list.Points[size_t(k)] = {float((double(box.Left) + box.Right) * 0.5), float((double(box.Top) + box.Bottom) * 0.5)};
    list.Measured[size_t(k)] = 0;
    list.Fluxes[size_t(k)] = 0;
  }
}

void ShowMarkAt(int slot, int k) {
  TImageWindowLink* link = LinkOf(slot);
  TMarkList& list = WindowMarks[size_t(slot)];
  if (!link || k < 0 || k >= list.Count || k >= link->MarkCount()) return;
  TRectI box;
  if (!link->MarkImageRect(k, box)) return;
  const int32_t w = box.Right - box.Left, h = box.Bottom - box.Top;
  const int32_t left = ClampRoundToInt(list.Points[size_t(k)].X) - w / 2;
  const int32_t top = ClampRoundToInt(list.Points[size_t(k)].Y) - h / 2;
  link->MoveMark(k, {left, top, left + w, top + h});
  // What the window reports now, so that a later read sees the mark unmoved.
  if (link->MarkImageRect(k, box)) list.Boxes[size_t(k)] = box;
}

int CountWindowMarks(int window, bool multipoint) {
  if (!SlotInUse(window)) return 0;
  const TImageWindowLink* link = LinkOf(window);
  if (!link) return 0;
  if (multipoint) return link->MarkCount();
  int n = 0;
  for (int k = 1; k <= 2; ++k)
    if (link->SelectionVisible(k) || link->MarkerVisible(k)) ++n;
  return n;
}

void PlaceMarkShape(int window, int k, TFloatPoint position) {
  if (TImageWindowLink* link = LinkOf(window)) link->CentreSelection(k == 1 ? 1 : 2, position.X, position.Y);
}

void InstallMarkPairs(std::span<const TMarkPair> pairs, int reference, int window) {
  if (!ValidSlot(window)) return;
  const int32_t n = int32_t(std::min<size_t>(pairs.size(), 65535));
  TMarkList& own = WindowMarks[size_t(window)];
  own.Reserve(n);
  own.Count = n;
  for (int32_t k = 0; k < n; ++k) {
    own.Points[size_t(k)] = {pairs[size_t(k)].Xa, pairs[size_t(k)].Ya};
    own.Measured[size_t(k)] = 1;
    own.Fluxes[size_t(k)] = 0;
  }
  TMarkList& ref = ReferenceMarkList(reference);
  ref.Reserve(n);
  ref.Count = n;
  for (int32_t k = 0; k < n; ++k) {
    ref.Points[size_t(k)] = {pairs[size_t(k)].Xb, pairs[size_t(k)].Yb};
    ref.Measured[size_t(k)] = 1;
    ref.Fluxes[size_t(k)] = 0;
  }
  ReferenceMarks.PairIndex.resize(size_t(std::max<int32_t>(n, int32_t(ReferenceMarks.PairIndex.size()))));
  for (int32_t k = 0; k < n; ++k) ReferenceMarks.PairIndex[size_t(k)] = uint16_t(k);
}

void ApplyShiftListMarks(int i, int reference, int window) {
  static const std::vector<TMarkPair> none;
  const bool listed = i >= 0 && size_t(i) < BatchMarkPairs.size();
  InstallMarkPairs(listed ? BatchMarkPairs[size_t(i)] : none, reference, window);
}

std::vector<TMarkPair> MatchedMarkPairs(int window, int reference) {
  std::vector<TMarkPair> pairs;
  if (!ValidSlot(window)) return pairs;
  const TMarkList& own = WindowMarks[size_t(window)];
  const TMarkList& ref = ReferenceMarkList(reference);
  const int32_t n = std::min<int32_t>(own.Count, int32_t(ReferenceMarks.PairIndex.size()));
  for (int32_t k = 0; k < n; ++k) {
    const uint16_t j = ReferenceMarks.PairIndex[size_t(k)];
    if (j >= ref.Count) continue;
    const TFloatPoint a = ref.Points[j], b = own.Points[size_t(k)];
    pairs.push_back({a.X, a.Y, b.X, b.Y});
  }
  return pairs;
}

}  // namespace astrelon
