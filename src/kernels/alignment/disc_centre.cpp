#include "kernels/alignment/disc_centre.h"

#include "kernels/alignment/bright_disc.h"

namespace astrelon {

TFloatPoint DiscCentre;

TFloatPoint MeasureDiscCentre(int slot) {
  const TBrightDisc disc = FindBrightDisc(slot);
  DiscCentre = {disc.CentreX, disc.CentreY};
  return DiscCentre;
}

}  // namespace astrelon
