#include "filters/sharpening/psf/psf_steepening.h"

#include <algorithm>
#include <limits>

#include "shell/stars/star_cutout_min_max.h"
#include "shell/stars/star_cutout_smoothing.h"
#include "store/image_slot.h"

namespace astrelon {

TStarCutout SteepenedPsf;

void SteepenStarCutout(TStarCutout& cutout) {
  for (int k = 1; k <= std::clamp(cutout.PlaneCount, 1, 3); ++k) {
    const double m = cutout.PlaneMax[size_t(k)];
    const double scale = m <= 0.00001 ? 10000.0 : 1.0 / m;
    for (float& v : cutout.Planes[size_t(k - 1)]) {
      const double x = double(v) * scale;
      // A cutout without a positive maximum may overflow: the largest float stays finite.
      const double x4 = std::min((x * x) * (x * x), double(std::numeric_limits<float>::max()));
      if (v > 0)
        v = float(x4);
      else if (IsValidPixel(v))
        v = float(-x4);
    }
  }
  CutoutMinMax(cutout);
}

void PrepareSteepenedPsf(const TStarCutout& picked) {
  SteepenedPsf = picked;
  SmoothStarCutout(SteepenedPsf, 20.0, 3.0);
  SteepenStarCutout(SteepenedPsf);
}

}  // namespace astrelon
