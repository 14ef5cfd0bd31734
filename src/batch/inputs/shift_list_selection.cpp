#include "batch/inputs/shift_list_selection.h"

#include <algorithm>

#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/pascal_format.h"

namespace astrelon {

namespace {

int32_t CountAbove(std::span<const float> qualities, double t) {
  int32_t n = 0;
  for (float q : qualities) n += double(q) > t;
  return n;
}

// The smallest k >= 0 at which `keepGoing(t + k step)` is false: where
// stepping by `step` while keepGoing holds ends, found by doubling and halving
// k instead of taking every step (keepGoing stays false once it is).
template <typename P>
int64_t StepsWhile(double t, double step, P keepGoing) {
  const auto at = [&](int64_t k) { return keepGoing(t + double(k) * step); };
  if (!at(0)) return 0;
  int64_t lo = 0, hi = 1;
  while (at(hi)) {
    lo = hi;
    if (hi > (int64_t(1) << 50)) return hi;
    hi *= 2;
  }
  while (hi - lo > 1) {
    const int64_t mid = lo + (hi - lo) / 2;
    (at(mid) ? lo : hi) = mid;
  }
  return hi;
}

template <typename P>
double StepWhile(double t, double step, P keepGoing) {
  return t + double(StepsWhile(t, step, keepGoing)) * step;
}

}  // namespace

std::string NoneSelectedText(int32_t count) {
  return "Nach der Qualität konnten keine Bilder ausgewählt werden, es werden alle " + std::to_string(count) +
         " Bilder der Liste verwendet.";
}

double ShiftListThreshold(std::span<const float> q, int32_t target) {
  double t = StepWhile(0.5, 0.1, [&](double x) { return CountAbove(q, x) >= target; });
  t = StepWhile(t, -0.001, [&](double x) { return CountAbove(q, x) < target; });
  // The last raise never passes images tied at the threshold: a step that
  // leaves fewer than `target` above it is taken back.
  constexpr double Fine = 0.00001;
  const int64_t k = StepsWhile(t, Fine, [&](double x) { return CountAbove(q, x) > target; });
  return t + double(k > 0 && CountAbove(q, t + double(k) * Fine) < target ? k - 1 : k) * Fine;
}

bool SelectBestImages(TShiftListFile& list, std::string_view answer, bool* noneSelected) {
  if (noneSelected) *noneSelected = false;
  const int32_t n = list.Count();
  const auto p = TryStrToFloatDot(answer);
  if (n < 1 || list.Qualities.size() != size_t(n) || !p || !(*p > 0) || !(*p < 100)) return false;
  const int32_t target = int32_t(std::clamp<int64_t>(Round(n * *p * 0.01), 1, n));
  const double t = ShiftListThreshold(list.Qualities, target);
  TShiftListFile kept;
  kept.Mode = list.Mode;
  for (int32_t i = 0; i < n; ++i) {
    if (!(double(list.Qualities[size_t(i)]) > t)) continue;
    kept.Names.push_back(list.Names[size_t(i)]);
    kept.Qualities.push_back(list.Qualities[size_t(i)]);
    if (size_t(i) < list.StarPairs.size()) kept.StarPairs.push_back(list.StarPairs[size_t(i)]);
    if (size_t(i) < list.MarkPairs.size()) kept.MarkPairs.push_back(list.MarkPairs[size_t(i)]);
  }
  // Qualities no threshold lies below (not numbers) select nothing: the list stays whole.
  if (kept.Names.empty()) {
    if (noneSelected) *noneSelected = true;
    return false;
  }
  const bool referenceDropped = !(double(list.Qualities[0]) > t);
  list = std::move(kept);
  return referenceDropped;
}

TShiftListLoad LoadShiftList(const std::string& path) {
  TShiftListLoad result;
  TShiftListFile list;
  std::string error;
  if (!ReadShiftListFile(path, list, error)) {
    EngineUi().ShowMessage("Die Verschiebungsliste kann nicht geladen werden:\r\n" + path + "\r\n" + error);
    return result;
  }
  if (list.Count() > 2) {
    const std::string answer =
        EngineUi().InputBox("Wieviele Bilder", "...sollen verwendet werden? (Prozentangabe!)", "100");
    bool noneSelected = false;
    result.ReferenceDropped = SelectBestImages(list, answer, &noneSelected);
    if (noneSelected) EngineUi().ShowMessage(NoneSelectedText(list.Count()));
  }
  InstallRunShiftList(list);
  result.Loaded = true;
  result.Mode = list.Mode;
  result.Count = list.Count();
  return result;
}

}  // namespace astrelon
