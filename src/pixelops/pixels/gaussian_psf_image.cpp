#include "pixelops/pixels/gaussian_psf_image.h"

#include <cmath>

#include "shell/slots/fresh_image.h"
#include "shell/slots/slot_utilities.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

int32_t GaussianPsfSize(double r) {
  if (!(r > 0.099 && r <= 50)) return 0;
  int32_t n = int32_t(std::nearbyint(7.95 * r)) + 5;
  if (n < 15) n = 15;
  if (n % 2 == 0) ++n;
  return n;
}

bool MakeGaussianPsfImage(int slot, double r) {
  const int32_t n = GaussianPsfSize(r);
  if (n == 0 || !MakeFreshImage(slot, n, n, 1, 0.0f)) return false;
  MakeDefaultHeader(slot);
  // Pixel k covers k .. k + 1: the centre n / 2 lies in the middle of pixel n div 2.
  const double centre = n / 2.0;
  FillGaussianPsf(slot, centre, centre, r);
  Store.FileName[size_t(slot)] = "PSFGauss0";
  Store.Image[size_t(slot)].NumberedName = 1;
  MakeCopyName(slot, slot);
  UpdateMinMax(slot);
  ResetDisplayRangeMeasured(slot, 10000.0f);
  ComputeHistogram(slot, false, false);
  return true;
}

}  // namespace astrelon
