#pragma once
// Writing the network in memory to a weight file, as each training command
// keeps its network: the two-times network (".nnw"), the universal filter
// (".nnf") and the debayer filter (".nnb"). Every value little-endian. The file
// is replaced only when it was written completely; a failure shows a message
// naming the file, leaves an existing file as it was and returns false.
#include <string>

#include "kernels/network/network_weights.h"

namespace astrelon {

// Header n (plus 1000 for 61 inputs) in phase 1; -1000 - n or -2000 - n with
// tables in phases 2 and 3; -3000 - n or -4000 - n for the one-layer types
// (11 and above). Then W1, W2, Wout, the carried value, the rate, the neurons
// in use, b1 and bo for the one-layer types, the tables in phases 2 and 3.
bool WriteTwoTimesNetworkFile(const std::string& fileName, const TNetworkWeights& net);

// Header [type, n] in phase 1 for type codes up to 10, else [8, n, type]; W1,
// W2, Wout, the rate, the neurons in use; the biases for type codes above 2 or
// phases 2 and 3; the tables in phases 2 and 3.
bool WriteUniversalNetworkFile(const std::string& fileName, const TNetworkWeights& net);

// Header [2, n] in every phase; W1, W2, Wout, the rate, the neurons in use, the
// biases, the tables in phases 2 and 3.
bool WriteDebayerNetworkFile(const std::string& fileName, const TNetworkWeights& net);

}  // namespace astrelon
