#include "frequency/deconvolution/psf_designer.h"

#include <algorithm>

#include "common/float_range.h"
#include "frequency/deconvolution/psf_shapes.h"
#include "store/image_slot.h"

namespace astrelon {

bool BuildDesignerPsf(TPsfDesigner& d, int which, int32_t position, double radius, double aspect) {
  if (which != 1 && which != 2) return false;
  return BuildPsfShape(position, radius, aspect, which == 1 ? d.Psf1Grid : d.Psf2Grid);
}

void CombineDesignerPsf(TPsfDesigner& d) {
  const double m = LimitFactor(d.Psf2Weight);
  if (!(m > 0)) {
    d.DesignedPsf = d.Psf1Grid;
    return;
  }
  const double keep = std::max(1.0 - m, 0.0);
  for (size_t i = 0; i < d.DesignedPsf.size(); ++i) {
    const double a = d.Psf1Grid[i], b = d.Psf2Grid[i];
    double v = 0;
    switch (d.Link) {
      case TPsfLink::Multiply: v = a * keep + a * b * m / 255.0; break;
      case TPsfLink::Subtract: v = a - m * b; break;
      case TPsfLink::Add: v = a + m * b; break;
    }
    d.DesignedPsf[i] = float(v);
  }
}

bool PsfGridHasValues(const TPsfGrid& grid) {
  return std::any_of(grid.begin(), grid.end(), [](float v) { return v != 0.0f && IsValidPixel(v); });
}

}  // namespace astrelon
