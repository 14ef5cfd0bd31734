#pragma once
// The per-pixel steps of one "Iteratives Gauss schärfen" iteration over a band
// of rows of the working rectangle: the work plane from the source and the
// destination's blur, the heights of the flux balance (sharpen_flux_balance.h),
// and the destination moved by the blurred work. Each pixel depends only on its
// own values, so bands may run on any number of threads; the vector loops give
// the bits of the scalar ones.
#include <cstdint>

#include "filters/sharpening/iterative_sharpen_levels.h"
#include "filters/sharpening/balance/sharpen_flux_balance.h"
#include "store/image_store.h"

namespace astrelon {

// One plane of an iteration (whole image planes of Width columns) and the
// rectangle; with Balance, the work step also fills in the heights the pixels
// offer to the flux balance, and the application records the changes.
struct TGaussSharpenPlanes {
  const float* Source = nullptr;
  float* Dest = nullptr;
  const float* Blur = nullptr;  // the destination's blur
  float* Work = nullptr;
  int32_t Width = 0;
  TWorkRect Rect;
  const TBalanceRows* Balance = nullptr;
};

struct TGaussSharpenStep {
  float K = 0;  // strength of this iteration
  TGaussSharpenLevels Levels;
};

// work = (source - blur)·k where both are valid (blank elsewhere); above the
// saturation level a negative work becomes 0. With Balance, the heights of the
// rows too (from the destination and its blur).
void GaussSharpenWorkRows(const TGaussSharpenPlanes& p, const TGaussSharpenStep& st, int64_t y0, int64_t y1,
                          bool vector);
// Where the (blurred) work is valid and the destination above lo: u = work·k,
// e = min((destination - lo) / max(|blur - lo|, a), 1), m = (source - lo)·d in
// 0..1; destination += u·e·m·u/(u ± w), a value above hi falling at most to hi,
// none whose source stands above sat falling at all. With Balance, in the
// blocks it needs, the change the plain step asks for (u) and the change made
// (both 0 where the work or the destination is blank).
void GaussSharpenApplyRows(const TGaussSharpenPlanes& p, const TGaussSharpenStep& st, int64_t y0, int64_t y1,
                           bool vector);

}  // namespace astrelon
