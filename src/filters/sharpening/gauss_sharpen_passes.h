#pragma once
// The per-pixel steps of one "Iteratives Gauss schärfen" iteration over a band
// of rows of the working rectangle: the work plane from the source and the
// destination's blur, the heights of the flux balance (sharpen_flux_balance.h),
// and the destination moved by the blurred work. Each pixel depends only on its
// own values, so bands may run on any number of threads; the vector loops give
// the bits of the scalar ones.
#include <cstdint>

#include "filters/sharpening/iterative_sharpen_levels.h"
#include "store/image_store.h"

namespace astrelon {

// One plane of an iteration (whole image planes of Width columns) and the
// rectangle, with the arrays of the flux balance (one value per pixel of the
// rectangle; without Height they are not filled).
struct TGaussSharpenPlanes {
  const float* Source = nullptr;
  float* Dest = nullptr;
  const float* Blur = nullptr;  // the destination's blur
  float* Work = nullptr;
  int32_t Width = 0;
  TWorkRect Rect;
  float* Height = nullptr;  // the height each pixel offers to the balance
  float* Wanted = nullptr;  // the change the plain step asks for
  float* Made = nullptr;    // the change made
};

struct TGaussSharpenStep {
  float K = 0;  // strength of this iteration
  TGaussSharpenLevels Levels;
};

// work = (source - blur)·k where both are valid (blank elsewhere); above the
// saturation level a negative work becomes 0.
void GaussSharpenWorkRows(const TGaussSharpenPlanes& p, const TGaussSharpenStep& st, int64_t y0, int64_t y1,
                          bool vector);
// Where the (blurred) work is valid and the destination above lo: u = work·k,
// e = min((destination - lo) / max(|blur - lo|, a), 1), m = (source - lo)·d in
// 0..1; destination += u·e·m·u/(u ± w), a value above hi falling at most to hi.
// With Height, Wanted gets u and Made the change (0 where the work or the
// destination is blank).
void GaussSharpenApplyRows(const TGaussSharpenPlanes& p, const TGaussSharpenStep& st, int64_t y0, int64_t y1,
                           bool vector);
// The balance's heights: the destination above lo where its blur stands above hi.
void GaussSharpenHeightRows(const TGaussSharpenPlanes& p, const TGaussSharpenStep& st, int64_t y0, int64_t y1,
                            bool vector);

}  // namespace astrelon
