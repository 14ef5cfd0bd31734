#pragma once
// The neural network in memory: its type, phase, weights, biases and per-neuron
// activation tables, and the forward pass. There is one network at a time;
// loading a weight file replaces it. Engine thread only.
#include <array>
#include <cstdint>
#include <vector>

namespace astrelon {

constexpr int32_t NetworkTableSize = 4001;  // entry 2000 + i holds the function at i / 1000
constexpr int32_t NetworkLayer2Size = 21;   // neurons of the second hidden layer at most
constexpr int32_t NetworkMaxNeurons = 1001;

struct TNetworkWeights {
  int32_t TypeCode = 1;   // 1 universal filter, 2 debayer filter, ... (11 and
                          // above: no second layer)
  int32_t Phase = 1;      // 1 shared tanh table, 2 and 3 per-neuron tables
  int32_t Top = 0;        // n: top index of layer 1 (n + 1 neurons)
  int32_t Current = 0;    // neurons in use minus one
  int32_t InputTop = 36;  // N: top index of the input vector
  int32_t Layer2Top = 20;
  int32_t RowWidth = 37;  // floats per W1 row: 37, or 61 when N > 36
  double Rate = 0.05;
  double Phase1Rate = 0.05;
  double Phase23Rate = 0.02;
  std::vector<float> W1;    // (n + 1) rows of RowWidth
  std::vector<float> W2;    // (n + 1) rows of 21
  std::vector<float> Wout;  // 21 rows of 4
  std::vector<float> B1;    // n + 1
  std::array<float, NetworkLayer2Size> B2{};
  std::array<float, 4> Bo{};
  std::vector<float> Tables1;  // (n + 1) tables of NetworkTableSize
  std::vector<float> Tables2;  // 21 tables of NetworkTableSize

  // Sizes every array for n + 1 neurons, zeroes the weights and biases and sets
  // every activation table to tanh.
  void Size(int32_t n);
};

extern TNetworkWeights Network;
// The input vector (at most 61 values) and the four outputs of the last pass.
extern std::array<float, 61> NetworkInput;
extern std::array<float, 4> NetworkOutput;
// Set while the colour-mosaic debayer uses the network.
extern bool NetworkDebayerMode;

// The shared activation: tanh from TanhTable within -2..2, beyond it straight
// lines of slope 0.07 continuing tanh(+-2); NaN gives NaN.
float NetworkActivation(float s);

// Evaluates the network on NetworkInput[0..inputTop] with layer-1 neurons
// 0..top and leaves the four outputs in NetworkOutput; `addBase` adds the
// bilinear 2 x 2 base the enlargement networks learn the residual to, `useBias`
// the biases.
void ForwardNetwork(int32_t inputTop, int32_t top, bool addBase, bool useBias);

}  // namespace astrelon
