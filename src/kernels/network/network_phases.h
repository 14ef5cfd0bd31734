#pragma once
// The three training phases of the network in memory and what the training
// panel shows of them: phase 1 trains the weights, phase 2 the layer-1
// activation tables, phase 3 the layer-2 tables. A switch saves and restores
// the rates and biases of the phases.
#include <array>
#include <cstdint>
#include <string>

namespace astrelon {

// The training panel's state that the phase switches change; the panel shows
// it after each switch.
struct TTrainingControls {
  bool Phase2Enabled = false;  // "Phase2" and "Phase3" usable: the network has its full size
  int32_t PressedPhase = 1;    // the phase button shown pressed
  std::string RateText;        // the learning rate as shown ("0.02000")
  // Automatic switching thresholds of phases 1, 2 and 3.
  std::array<double, 3> Thresholds{0.001, 0.001, 0.001};
  int64_t BaseSteps = 20000;   // samples between evaluations in phase 1
  int64_t PhaseSteps = 20000;  // samples between evaluations in the current phase
};
extern TTrainingControls TrainingControls;

// To phase 2 (training the layer-1 tables). Nothing in phase 2; in phase 1
// before the network has its full size only the phase-1 threshold becomes the
// rate / 1.5. Otherwise the update window of half-width 10 and fresh layer-2
// tables; from phase 1 the rate is saved as the phase-1 rate, becomes 0.02, the
// layer-1 tables are reset and the biases saved as the phase-1 copy; from phase
// 3 the saved phase-2/3 rate and the phase-2 biases come back. Then 1.5 base
// steps per evaluation.
void SwitchToPhase2();

// To phase 3 (training the layer-2 tables). A network without a second layer
// (type code 10 and above) cannot: the abort flag is raised instead. Nothing in
// phase 3. From phase 1 both table sets are reset and the rate and biases saved
// as the phase-1 ones; from phase 2 the rate is saved as the phase-2/3 rate.
// Then the biases are saved as the phase-2 copy, the update window of
// half-width 10 is built, the rate becomes 0.02, 2 base steps per evaluation.
void SwitchToPhase3();

// Back to phase 1 (training the weights) from phase 2 or 3: the phase-2/3 rate
// becomes 0.02, the saved phase-1 rate and biases come back, 1 base step per
// evaluation. Nothing in phase 1.
void ReturnToPhase1();

}  // namespace astrelon
