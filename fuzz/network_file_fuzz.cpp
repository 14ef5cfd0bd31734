// libFuzzer target for the network weight file reader: every input either loads
// a network of 1 .. 1001 neurons with arrays of the sizes it states, or is
// refused with the network loaded before left as it was. Built by
// fuzz/build.sh (clang).
#include <cstdint>
#include <string>

#include "filters/network_file.h"
#include "filters/network_weights.h"
#include "filters/neural_tables.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace astrelon;
  static const std::string input = fuzz::TempName(".nnb");
  if (!fuzz::WriteInput(input, data, size)) return 0;
  fuzz::QuietMessages();
  BuildTanhTable();
  Network = TNetworkWeights{};
  Network.Size(3);
  const std::vector<float> before = Network.W1;
  int32_t n = 0, current = 0, top = 0;
  if (LoadNetworkFile(input, n, current, top)) {
    fuzz::Check(n >= 1 && n <= 1000 && current >= 0 && current <= n, "network size");
    fuzz::Check(Network.W1.size() == size_t(Network.Stride) * size_t(Network.RowWidth) && Network.Stride >= n + 1, "W1 size");
    fuzz::Check(Network.B1.size() == size_t(n + 1), "bias size");
  } else {
    fuzz::Check(Network.Top == 3 && Network.W1 == before, "refused file leaves the network");
  }
  return 0;
}
