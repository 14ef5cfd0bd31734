// libFuzzer target for the network weight file readers (filter networks,
// two-times networks as the training and as the enlargement reads them): every input either loads a network of 1 .. 1000
// neurons with arrays of the sizes it states, or is refused with one message
// and the network loaded before left as it was. A loaded network is evaluated
// once, so that weights and tables read from the file go through the forward
// pass. Built by fuzz/build.sh (clang).
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "kernels/network/network_file.h"
#include "kernels/network/network_forward.h"
#include "kernels/network/network_weights.h"
#include "kernels/network/neural_tables.h"
#include "kernels/network/two_times_network_file.h"

namespace {

using TLoader = bool (*)(const std::string&, int32_t&, int32_t&, int32_t&);

void Check(TLoader load, const std::string& input) {
  using namespace astrelon;
  Network = TNetworkWeights{};
  Network.Size(3);
  const std::vector<float> before = Network.W1;
  EngineUi().Messages.clear();
  int32_t n = 0, current = 0, top = 0;
  if (load(input, n, current, top)) {
    fuzz::Check(n >= 1 && n <= 1000 && current >= 0 && current <= n, "network size");
    fuzz::Check(Network.Stride >= n + 1 && Network.W1.size() == size_t(Network.Stride) * size_t(Network.RowWidth),
                "W1 size");
    fuzz::Check(Network.B1.size() == size_t(n + 1), "bias size");
    fuzz::Check(Network.Tables1.size() == size_t(n + 1) * NetworkTableSize, "table size");
    fuzz::Check(top == 2 || top == 20 || top == 36 || top == 40 || top == 60, "input count");
    TNetworkPass pass;
    pass.X.fill(0.5f);
    ForwardNetwork(Network, pass, top, current, true, true);
  } else {
    fuzz::Check(Network.Top == 3 && Network.W1 == before, "refused file leaves the network");
    fuzz::Check(EngineUi().Messages.size() == 1, "one message");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace astrelon;
  static const std::string input = fuzz::TempName(".nnw");
  if (!fuzz::WriteInput(input, data, size)) return 0;
  fuzz::QuietMessages();
  BuildTanhTable();
  Check(LoadNetworkFile, input);
  Check(LoadTwoTimesNetworkFile, input);
  Check(LoadEnlargementNetworkFile, input);
  return 0;
}
