#include "kernels/network/network_phases.h"

#include "common/pascal_format.h"
#include "kernels/network/network_training.h"
#include "kernels/network/network_weights.h"
#include "store/image_store.h"

namespace astrelon {

TTrainingControls TrainingControls;

namespace {

void ShowPhase(int32_t phase, int64_t steps) {
  TTrainingControls& c = TrainingControls;
  c.RateText = FormatFixed(Network.Rate, 5);
  Network.Phase = phase;
  c.PhaseSteps = steps;
  c.PressedPhase = phase;
}

}  // namespace

void SwitchToPhase2() {
  TNetworkWeights& net = Network;
  TTrainingControls& c = TrainingControls;
  if (net.Phase == 2) return;
  if (net.Phase == 1 && !c.Phase2Enabled) {
    c.Thresholds[0] = net.Rate / 1.5;
    return;
  }
  BuildTableUpdateWindow(10);
  ResetLayer2Functions();
  if (net.Phase == 1) {
    net.Phase1Rate = net.Rate;
    net.Rate = 0.02;
    ResetLayer1Functions();
    net.SaveBiases(net.Phase1Biases);
  } else {
    net.Rate = net.Phase23Rate;
    net.RestoreBiases(net.Phase2Biases);
  }
  ShowPhase(2, c.BaseSteps * 3 / 2);
}

void SwitchToPhase3() {
  TNetworkWeights& net = Network;
  if (net.TypeCode >= 10) {  // no second layer
    AbortRequested = 1;
    return;
  }
  if (net.Phase == 3) return;
  if (net.Phase == 1) {
    ResetLayer1Functions();
    ResetLayer2Functions();
    net.Phase1Rate = net.Rate;
    net.SaveBiases(net.Phase1Biases);
  } else {
    net.Phase23Rate = net.Rate;
  }
  net.SaveBiases(net.Phase2Biases);
  BuildTableUpdateWindow(10);
  net.Rate = 0.02;
  ShowPhase(3, TrainingControls.BaseSteps * 2);
}

void ReturnToPhase1() {
  TNetworkWeights& net = Network;
  if (net.Phase <= 1) return;
  net.Phase23Rate = 0.02;
  net.Rate = net.Phase1Rate;
  net.RestoreBiases(net.Phase1Biases);
  ShowPhase(1, TrainingControls.BaseSteps);
}

}  // namespace astrelon
