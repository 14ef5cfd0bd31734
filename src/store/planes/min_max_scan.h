#pragma once
// The running search for the smallest and largest valid pixel behind RectMinMax
// and UpdateMinMax, so that readers can measure rows while they write them.
#include <algorithm>

#include "store/image_slot.h"

namespace astrelon {

// Last step of a minimum/maximum search from lo/hi: nothing valid below 1e18
// gives min 0 and max 1; a minimum of -0 becomes +0.
void FinishMinMax(float lo, float hi, float& min, float& max);

// A minimum/maximum search over several runs (rows, bands of rows, planes being
// filled): scans merged in any order end with the same figures as one RectMinMax
// over all of them.
constexpr float MinSearchStart = 1e20f;
struct TMinMaxScan {
  float Lo = MinSearchStart;  // smallest valid value seen (values from 1e18 up may be missing)
  float Hi = BlankLimit;      // largest valid value seen, at most 1e18
  void Merge(const TMinMaxScan& o) {
    Lo = std::min(Lo, o.Lo);
    Hi = std::max(Hi, o.Hi);
  }
  bool AnyValid() const { return Hi > BlankLimit; }
  // RectMinMax's figures: min 0 and max 1 when nothing valid lay below 1e18.
  void Finish(float& min, float& max) const { FinishMinMax(Lo, Hi, min, max); }
};

}  // namespace astrelon
