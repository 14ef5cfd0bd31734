// libFuzzer target for the network forward pass on weight files that the
// reader takes: a loaded network holds only finite weights, biases and tables,
// and runs forward (with its own tables and with the shared tanh table) on
// inputs taken from the file's first bytes, huge values of both signs among
// them, so that sums overflow to infinities and NaN. UBSan checks every table
// index; NaN in gives NaN out. Built by fuzz/build.sh (clang).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "kernels/network/network_file.h"
#include "kernels/network/network_forward.h"
#include "kernels/network/network_weights.h"
#include "kernels/network/neural_tables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace astrelon;
  static const std::string input = fuzz::TempName("-forward.nnb");
  if (!fuzz::WriteInput(input, data, size)) return 0;
  fuzz::QuietMessages();
  BuildTanhTable();
  int32_t n = 0, current = 0, top = 0;
  if (!LoadNetworkFile(input, n, current, top)) return 0;
  const auto finite = [](const auto& v) { return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); }); };
  fuzz::Check(finite(Network.W1) && finite(Network.W2) && finite(Network.Wout) && finite(Network.B1) &&
                  finite(Network.B2) && finite(Network.Bo) && finite(Network.Tables1) && finite(Network.Tables2),
              "only finite values are loaded");
  for (size_t i = 0; i < NetworkPass.X.size(); ++i) {
    float v = 0;
    if (size >= (i + 1) * 4) std::memcpy(&v, data + i * 4, 4);
    NetworkPass.X[i] = i % 2 ? v : (i % 4 ? -1e30f : 1e30f);
  }
  for (const int32_t phase : {Network.Phase, 1}) {
    Network.Phase = phase;
    ForwardNetwork(top, n, true, true);
    ForwardNetwork(top, n, false, false);
  }
  fuzz::Check(std::isnan(NetworkActivation(std::nanf(""))), "NaN in, NaN out");
  return 0;
}
