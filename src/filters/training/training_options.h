#pragma once
// What the training panel sets for a running training: its check boxes, the
// switching threshold it shows and the steps of its two up/down controls.
#include <string>

namespace astrelon {

struct TTrainingOptions {
  bool GoodImage = false;          // "Bild gut berechnen": the whole result at every evaluation
  bool Rotated = false;            // "Gedrehte,": samples turned by quarter turns
  bool Mirrored = false;           // "gespiegelte": samples mirrored
  bool AutoPhase = false;          // "Autom. Phasen Weiterschaltung"
  double SwitchThreshold = 0.001;  // shown beside "Autom. Phasen Weiterschaltung"
};
extern TTrainingOptions TrainingOptions;

// "UpDown1": the learning rate times 1.2 up to 0.075, or divided by 1.2 down
// to 0.0001 (a rate already beyond stays); the shown rate follows.
void StepTrainingRate(bool up);
// "UpDown2": the threshold times 1.2 up to 0.03, or times 0.833 down to
// 0.00001, into all three phase thresholds.
void StepSwitchThreshold(bool up);

// A rate or threshold as the panel shows it: fixed, 5 decimals ("0.05000").
std::string TrainingNumberText(double v);

}  // namespace astrelon
