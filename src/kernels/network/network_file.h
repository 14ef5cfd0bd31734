#pragma once
// Reading a filter network weight file (".nnf" universal filter, ".nnb" debayer
// filter) into the network in memory.
#include <cstdint>
#include <string>

namespace astrelon {

// Reads the file into Network. The header is [type, n] or [8, n, type] (a first
// value of 9 or more, after multiples of 1000 are taken off, is n itself; a
// negative one also means type 3); then W1, W2, Wout, the rate, the neurons in
// use, and, found by the size that remains, the biases (both saved copies get
// them) and the activation tables. A type code that no training writes, n
// outside 1..1000, or a file shorter than its blocks is refused. The network
// is replaced only when the whole file was read and every weight, bias and
// table value is a finite number; otherwise a message names the
// file and false is returned. `n`, `current` and `inputTop` receive the
// network's top neuron index, neurons in use minus one and top input index.
bool LoadNetworkFile(const std::string& fileName, int32_t& n, int32_t& current, int32_t& inputTop);

}  // namespace astrelon
