#include "kernels/network/two_times_network_file.h"

#include "kernels/network/network_file_codec.h"
#include "kernels/network/network_weights.h"

namespace astrelon {

namespace {

constexpr uint64_t TableBytes = uint64_t(NetworkTableSize) * 4;

// Whether a file of `rest` bytes after the header is exactly what a network of
// n + 1 neurons with rows of `rowWidth` inputs gives: the blocks, the carried
// value and the rate, then optionally current, then optionally the 21 layer-2
// tables or all tables.
bool LengthFits(uint64_t rest, int64_t n, int32_t rowWidth) {
  const uint64_t body = WeightBlockBytes(uint64_t(n) + 1, rowWidth) + 16;
  if (rest == body || rest == body + 4) return true;
  return rest == body + 4 + 21 * TableBytes || rest == body + 4 + uint64_t(22 + n) * TableBytes;
}

bool ReadNetwork(TNetworkFileReader& in, TNetworkWeights& net, bool enlargement) {
  net = TNetworkWeights{};
  net.TypeCode = 3;
  int32_t header = 0;
  if (!in.Int(header)) return false;
  // Headers no writer makes: n itself is at least 1, and the negative forms
  // run from -1000 - n to -4000 - n.
  if ((header <= 0 && header >= -1000) || header < -5000) return false;
  int64_t n = header;
  if (header > 1000) {
    n = int64_t(header) - 1000;
    net.TypeCode = 4;
  } else if (header < 0) {
    n = -int64_t(header);  // 64 bits: -2^31 has no 32-bit negative
    if (n > 4000) {
      net.TypeCode = 14;
    } else if (n > 3000) {
      net.TypeCode = 13;
    } else if (n > 2000) {
      net.TypeCode = 4;  // 61 inputs, as the header n + 1000 of the same network in phase 1
    }
    if (n > 1000) n = (n - 1) % 1000 + 1;  // multiples of 1000 taken off
  }
  if (n < 1 || n > 1000) return false;
  SetNetworkLayout(net);
  if (enlargement && header > 0 && header <= 1000) {
    // The plain header: 37 inputs as the training writes it, else the
    // 21-input layout, else no network this reader knows.
    if (!LengthFits(in.Remaining(), n, net.RowWidth)) {
      if (!LengthFits(in.Remaining(), n, 21)) return false;
      net.InputTop = 20;
      net.RowWidth = 21;
    }
  }
  const bool oneLayer = !net.HasLayer2();
  if (in.Remaining() < WeightBlockBytes(uint64_t(n) + 1, net.RowWidth) + 16) return false;
  net.Size(int32_t(n));
  if (!ReadWeightBlocks(in, net) || !in.Double(net.Carried) || !in.Double(net.Rate)) return false;
  net.Current = net.Top;
  if (!in.AtEnd() && !in.Int(net.Current)) return false;
  if (net.Current > net.Top || net.Current < (enlargement ? 10 : 9)) net.Current = net.Top;
  if (oneLayer) {
    if (!in.Floats(net.B1.data(), net.B1.size()) || !in.Floats(net.Bo.data(), net.Bo.size())) return false;
    net.SaveBiases(net.Phase1Biases);
    net.SaveBiases(net.Phase2Biases);
  }
  if (in.Remaining() <= 100000) {
    net.Phase = 1;
    return true;
  }
  net.Phase = oneLayer ? 2 : 3;
  return ReadTables(in, net);
}

bool ReadForTraining(TNetworkFileReader& in, TNetworkWeights& net) { return ReadNetwork(in, net, false); }
bool ReadForEnlargement(TNetworkFileReader& in, TNetworkWeights& net) { return ReadNetwork(in, net, true); }

}  // namespace

bool LoadTwoTimesNetworkFile(const std::string& fileName, int32_t& n, int32_t& current, int32_t& inputTop) {
  return LoadNetworkWith(fileName, ReadForTraining, n, current, inputTop);
}

bool LoadEnlargementNetworkFile(const std::string& fileName, int32_t& n, int32_t& current, int32_t& inputTop) {
  return LoadNetworkWith(fileName, ReadForEnlargement, n, current, inputTop);
}

}  // namespace astrelon
