#pragma once
// The neural network in memory: its type, phase, weights, biases with their
// saved copies, per-neuron activation tables and training vectors, and the
// record of one evaluation. There is one network at a time; loading a weight
// file or InitNetwork replaces it. The weights are changed in the engine
// thread only; while no one changes them, any number of threads may evaluate
// the network, each with a record of its own.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace astrelon {

constexpr int32_t NetworkTableSize = 4001;  // entry 2000 + i holds the function at i / 1000
constexpr int32_t NetworkLayer2Size = 21;   // neurons of the second hidden layer at most
constexpr int32_t NetworkMaxNeurons = 1001;
constexpr int32_t NetworkMaxInputs = 61;
// The kept table index of a neuron whose sum lay outside -2..2.
constexpr int32_t NetworkOutsideTable = 3000;
// Layer-1 neurons are stored in blocks of this many (the widest vector).
constexpr int32_t NetworkNeuronBlock = 8;
// Floats per stored W2 row: the 21 layer-2 weights and zeros up to a block.
constexpr int32_t NetworkW2Stride = 24;
constexpr int32_t NetworkMaxUpdateHalfWidth = 10;

constexpr int32_t NetworkNeuronStride(int32_t neurons) {
  return (neurons + NetworkNeuronBlock - 1) / NetworkNeuronBlock * NetworkNeuronBlock;
}

// The three bias vectors, also as the saved phase-1 and phase-2 copies.
struct TNetworkBiases {
  std::vector<float> B1;                      // n + 1
  std::array<float, NetworkLayer2Size> B2{};  // 21
  std::array<float, 4> Bo{};
};

struct TNetworkWeights {
  int32_t TypeCode = 1;   // 1 universal filter, 2 debayer filter, 3/4 two-times,
                          // 6 41 inputs, 7 3 inputs; 11 and above: no second layer
  int32_t Phase = 1;      // 1 shared tanh table, 2 and 3 per-neuron tables
  int32_t Top = 0;        // n: top index of layer 1 (n + 1 neurons)
  int32_t Current = 0;    // neurons in use minus one
  int32_t InputTop = 36;  // N: top index of the input vector
  int32_t Layer2Top = 20;
  int32_t RowWidth = 37;  // inputs stored per neuron: 37, or 61 when N > 36
  int32_t Stride = 0;     // neurons stored per W1 input row: n + 1 rounded up to a block
  double Rate = 0.05;
  double Phase1Rate = 0.05;
  double Phase23Rate = 0.02;
  // The 64-bit value a two-times weight file carries along unchanged.
  double Carried = 100000.0;
  // W1 stored input by input: the weight of neuron j for input i at i * Stride
  // + j (neurons n + 1 .. Stride - 1 are zero). Use W1At.
  std::vector<float> W1;
  // W2 stored neuron by neuron, NetworkW2Stride floats each (the last three
  // zero). Use W2At.
  std::vector<float> W2;
  std::vector<float> Wout;  // 21 rows of 4
  std::vector<float> B1;    // n + 1
  std::array<float, NetworkLayer2Size> B2{};
  std::array<float, 4> Bo{};
  TNetworkBiases Phase1Biases, Phase2Biases;
  std::vector<float> Tables1;  // (n + 1) tables of NetworkTableSize
  std::vector<float> Tables2;  // 21 tables of NetworkTableSize
  // The activation-table update: half-width W (0..10) and the window G[-W..W]
  // at UpdateWindow[10 + u].
  int32_t UpdateHalfWidth = 0;
  std::array<float, 2 * NetworkMaxUpdateHalfWidth + 1> UpdateWindow{};
  // Training vectors: targets, output errors and the deltas of both layers.
  std::array<float, 4> T{};
  std::array<float, 4> E{};
  std::vector<float> D1;  // Stride
  std::array<float, NetworkW2Stride> D2{};

  // Sizes every array for n + 1 neurons with RowWidth inputs, zeroes the
  // weights, the biases and both bias copies and sets every activation table
  // to tanh (the tanh tables must be built).
  void Size(int32_t n);

  float& W1At(int32_t j, int32_t i) { return W1[size_t(i) * size_t(Stride) + size_t(j)]; }
  float W1At(int32_t j, int32_t i) const { return W1[size_t(i) * size_t(Stride) + size_t(j)]; }
  float& W2At(int32_t j, int32_t k) { return W2[size_t(j) * NetworkW2Stride + size_t(k)]; }
  float W2At(int32_t j, int32_t k) const { return W2[size_t(j) * NetworkW2Stride + size_t(k)]; }
  float* Table1(int32_t j) { return Tables1.data() + size_t(j) * NetworkTableSize; }
  const float* Table1(int32_t j) const { return Tables1.data() + size_t(j) * NetworkTableSize; }
  float* Table2(int32_t k) { return Tables2.data() + size_t(k) * NetworkTableSize; }
  const float* Table2(int32_t k) const { return Tables2.data() + size_t(k) * NetworkTableSize; }
  // Whether the outputs are sums of a second hidden layer (type codes up to
  // 10); otherwise they are linear sums of layer 1.
  bool HasLayer2() const { return TypeCode <= 10; }

  void SaveBiases(TNetworkBiases& to) const;
  void RestoreBiases(const TNetworkBiases& from);
};

// One evaluation of the network: the inputs x[0..N], both hidden layers, the
// four outputs (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right) and,
// in phases 2 and 3, the table index each neuron used. Owned by the caller.
// The layers hold whole blocks of neurons; the vector loops fill them.
struct TNetworkPass {
  alignas(32) std::array<float, 64> X{};
  alignas(32) std::array<float, NetworkNeuronStride(NetworkMaxNeurons)> H1{};
  alignas(32) std::array<float, NetworkW2Stride> H2{};
  std::array<float, 4> Y{};
  std::array<int32_t, NetworkNeuronStride(NetworkMaxNeurons)> Kept1{};
  std::array<int32_t, NetworkW2Stride> Kept2{};
};

extern TNetworkWeights Network;
// The engine's own record: the training evaluates and learns through it.
extern TNetworkPass NetworkPass;
// Set while the colour-mosaic debayer uses the network.
extern bool NetworkDebayerMode;

// The layer-1 tables of Network to tanh (entry 2000 + i = tanh(i / 1000),
// entry 2000 - i its negative), and likewise the 21 layer-2 tables.
void ResetLayer1Functions();
void ResetLayer2Functions();

// A new network of n + 1 layer-1 neurons (0..1000) for inputs 0..N: every array
// sized, biases and their copies zero, every W1 row (37 or 61 inputs), W2 and
// Wout filled with values uniform in [-w/2, w/2), w the setting "Netzwerkini";
// phase 1, layer-2 top index 20, saved rates 0.05 and 0.02, the carried file
// value 100000. The type code and the rate stay as they were (the training
// sets them). Without a seed the generator starts from the clock.
void InitNetwork(int32_t n, int32_t current, int32_t N);
void InitNetwork(int32_t n, int32_t current, int32_t N, uint64_t seed);

}  // namespace astrelon
