// Batch steps of pixel arithmetic and orientation on the work image, in place.
#include <algorithm>

#include "batch/exec/step_run.h"
#include "batch/exec/step_values.h"
#include "common/float_range.h"
#include "core/settings.h"
#include "pixelops/pixels/invert_image.h"
#include "kernels/regions/value_arithmetic.h"
#include "platform/parallel_bands.h"
#include "shell/slots/slot_orientation.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// "Hintergrund auf 0 setzen": the level at p % (0..100) of each plane (a grey
// image: of plane 1) is taken off that plane.
void SubtractBackgroundLevel(int work, double percent) {
  const double p = std::clamp(percent, 0.0, 100.0);
  const TImageSlot& im = Store.Image[size_t(work)];
  std::array<float, 4> level{};
  for (int plane = 1; plane <= 3; ++plane) {
    if (plane > 1 && !im.IsColor) {
      level[size_t(plane)] = level[1];
      continue;
    }
    TPercentileLevels lv;
    GetPercentileLevels(work, plane, 0, im.Width - 1, 0, im.Height - 1, p, p, lv);
    level[size_t(plane)] = float(lv.LevelA);
  }
  AddValuesToRect(work, -level[1], -level[2], -level[3]);
}

// "Farbsättigung": each pixel whose luminance L is above -10000 moves its
// planes away from L by the factor k (held within +-FactorLimit): c := (c - L) k + L.
void ScaleSaturation(int work, double factor) {
  const double k = LimitFactor(factor);
  TImageSlot& im = Store.Image[size_t(work)];
  if (im.PlaneCount < 3) return;
  float* r = im.Planes[1].data();
  float* g = im.Planes[2].data();
  float* b = im.Planes[3].data();
  const int64_t n = int64_t(im.PixelCount());
  ForEachBand(n, BandThreads(n, 1 << 18, Options.Multicore != 0), [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      const double l = 0.299 * r[i] + 0.587 * g[i] + 0.114 * b[i];
      if (!(l > -10000.0)) continue;
      r[i] = float((r[i] - l) * k + l);
      g[i] = float((g[i] - l) * k + l);
      b[i] = float((b[i] - l) * k + l);
    }
  });
}

}  // namespace

bool RunPixelStep(const TStepRun& run) {
  const int w = run.Work;
  switch (run.Op) {
    case 4: {
      const float v = float(StepFloat(run.Value(1)));
      AddValuesToRect(w, v, v, v);
      return true;
    }
    case 5: {
      const double f = StepFloat(run.Value(1));
      MultiplyRectByValues(w, f, f, f);
      return true;
    }
    case 6:
      InvertImage(w);
      return true;
    case 7:
      ClampValuesBelow(w, float(StepInt(run.Value(1))));
      return true;
    case 8:
      ClampValuesAbove(w, float(StepInt(run.Value(1))));
      return true;
    case 17:
      AddValuesToRect(w, float(StepFloat(run.Value(1))), float(StepFloat(run.Value(2))),
                      float(StepFloat(run.Value(3))));
      return true;
    case 18:
      MultiplyRectByValues(w, StepFloat(run.Value(1)), StepFloat(run.Value(2)), StepFloat(run.Value(3)));
      return true;
    case 21:
      MirrorSlotHorizontal(w);
      return true;
    case 22:
      SubtractBackgroundLevel(w, StepFloat(run.Value(1)));
      return true;
    case 23:
      SquareValues(w, true);
      return true;
    case 26:
      TakeSquareRoot(w, true, true);
      return true;
    case 35:
      ScaleSaturation(w, StepFloat(run.Value(1)) * 0.01);
      return true;
    default: return false;
  }
}

}  // namespace astrelon
