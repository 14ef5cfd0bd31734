#include "filters/training/training_options.h"

#include <algorithm>

#include "common/pascal_format.h"
#include "kernels/network/network_phases.h"
#include "kernels/network/network_weights.h"

namespace astrelon {

TTrainingOptions TrainingOptions;

std::string TrainingNumberText(double v) { return FormatFixed(v, 5); }

void StepTrainingRate(bool up) {
  double& r = Network.Rate;
  r = up ? std::max(r, std::min(r * 1.2, 0.075)) : std::min(r, std::max(r / 1.2, 0.0001));
  TrainingControls.RateText = TrainingNumberText(r);
}

void StepSwitchThreshold(bool up) {
  double& t = TrainingOptions.SwitchThreshold;
  t = up ? std::max(t, std::min(t * 1.2, 0.03)) : std::min(t, std::max(t * 0.833, 0.00001));
  TrainingControls.Thresholds.fill(t);
}

}  // namespace astrelon
