#pragma once
// The two per-pixel steps of one "Iteratives Gauss schärfen" iteration over a
// band of rows of the working rectangle: the work plane from the source and
// the destination's blur, and the destination moved by the blurred work. Each
// pixel depends only on its own values, so bands may run on any number of
// threads; the vector loops give the bits of the scalar ones.
#include <cstdint>

#include "filters/sharpening/iterative_sharpen_levels.h"
#include "store/image_store.h"

namespace astrelon {

// One plane of an iteration (whole image planes of Width columns) and the rectangle.
struct TGaussSharpenPlanes {
  const float* Source = nullptr;
  float* Dest = nullptr;
  const float* Blur = nullptr;  // the destination's blur
  float* Work = nullptr;
  int32_t Width = 0;
  TWorkRect Rect;
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
void GaussSharpenApplyRows(const TGaussSharpenPlanes& p, const TGaussSharpenStep& st, int64_t y0, int64_t y1,
                           bool vector);

}  // namespace astrelon
