#include "kernels/network/network_file.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/engine_ui.h"
#include "kernels/network/network_file_codec.h"
#include "kernels/network/network_weights.h"

namespace astrelon {

namespace {

bool ReadNetwork(TNetworkFileReader& in, TNetworkWeights& net) {
  net = TNetworkWeights{};
  int32_t first = 0;
  if (!in.Int(first)) return false;
  int64_t a = first;
  if (a < 0) {
    a = -a;
    net.TypeCode = 3;
  }
  if (a > 1000) a = (a - 1) % 1000 + 1;  // multiples of 1000 taken off
  int32_t n = 0;
  if (a < 9) {
    net.TypeCode = int32_t(a);
    if (!in.Int(n)) return false;
  } else {
    n = int32_t(a);
  }
  if (n < 1 || n > 1000) return false;
  if (net.TypeCode == 8) {
    if (!in.Int(net.TypeCode)) return false;
    net.Phase = 3;
  }
  if (!KnownNetworkType(net.TypeCode)) return false;
  SetNetworkLayout(net);
  // Every block of the body must be in the file before anything is allocated.
  if (in.Remaining() < WeightBlockBytes(uint64_t(n) + 1, net.RowWidth) + 12) return false;
  net.Size(n);
  if (!ReadWeightBlocks(in, net) || !in.Double(net.Rate) || !in.Int(net.Current)) return false;
  if (net.Current > n || net.Current < 9) net.Current = n;
  const uint64_t rest = in.Remaining();
  if (!in.AtEnd() && (rest < 5000 || rest > 100000)) {
    if (!in.Floats(net.B1.data(), net.B1.size()) || !in.Floats(net.B2.data(), net.B2.size()) ||
        !in.Floats(net.Bo.data(), net.Bo.size()))
      return false;
    net.SaveBiases(net.Phase1Biases);
    net.SaveBiases(net.Phase2Biases);
  }
  if (rest <= 100000 && !(net.Phase > 1 && net.TypeCode < 10)) {
    net.Phase = 1;
    net.Phase1Rate = net.Rate;
    return true;
  }
  if (!ReadTables(in, net)) return false;
  net.Phase = 3;
  return true;
}

}  // namespace

bool LoadNetworkFile(const std::string& fileName, int32_t& n, int32_t& current, int32_t& inputTop) {
  return LoadNetworkWith(fileName, ReadNetwork, n, current, inputTop);
}

}  // namespace astrelon
