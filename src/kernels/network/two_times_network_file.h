#pragma once
// Reading a two-times enlargement network weight file (".nnw") into the
// network in memory, as the two-times training continues one and as the
// enlargement applies one.
#include <cstdint>
#include <string>

namespace astrelon {

// Reads the file into Network. The header H gives the layout: n (1..1000) a
// phase-1 network of 37 inputs (type 3); n + 1000 one of 61 inputs (type 4);
// -1000 - n and -2000 - n networks of 37 and 61 inputs (types 3 and 4) whose
// tables may follow; -3000 - n and -4000 - n the one-layer types 13 and 14.
// Then W1, W2, Wout, the carried 64-bit value, the rate, the neurons in use
// (n when the file ends before), the biases b1 and bo of the one-layer types,
// and, when more than 100000 bytes remain, the activation tables (phase 3, or
// 2 without a second layer). A header no writer makes (from -1000 to 0, below
// -5000, or n above 1000) or a file shorter than its blocks is refused with
// the message naming the file, and the network loaded before stays. `n`,
// `current` and `inputTop` receive the network's top neuron index, neurons in
// use minus one and top input index.
bool LoadTwoTimesNetworkFile(const std::string& fileName, int32_t& n, int32_t& current, int32_t& inputTop);

// The same reading as the two-times enlargement does it: the plain header n
// is a 37-input network when the file's length is one that layout gives, a
// 21-input network (rows of 21 weights, input top 20) when it is one of that
// layout's, and refused otherwise; a "current" below 10 becomes n.
bool LoadEnlargementNetworkFile(const std::string& fileName, int32_t& n, int32_t& current, int32_t& inputTop);

}  // namespace astrelon
