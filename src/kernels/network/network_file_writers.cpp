#include "kernels/network/network_file_writers.h"

#include "common/atomic_file.h"
#include "common/engine_ui.h"
#include "kernels/network/network_file_codec.h"
#include "store/load_messages.h"

namespace astrelon {

namespace {

bool Commit(const std::string& fileName, const TNetworkFileWriter& out) {
  if (WriteFileAtomic(fileName, out.Bytes())) return true;
  EngineUi().ShowMessage(SaveFailedText(fileName));
  return false;
}

void WriteAllBiases(TNetworkFileWriter& out, const TNetworkWeights& net) {
  out.Floats(net.B1.data(), net.B1.size());
  out.Floats(net.B2.data(), net.B2.size());
  out.Floats(net.Bo.data(), net.Bo.size());
}

// Parts 1 to 3, then the rate and the neurons in use.
void WriteFilterBody(TNetworkFileWriter& out, const TNetworkWeights& net) {
  WriteWeightBlocks(out, net);
  out.Double(net.Rate);
  out.Int(net.Current);
}

}  // namespace

bool WriteTwoTimesNetworkFile(const std::string& fileName, const TNetworkWeights& net) {
  const bool wide = net.InputTop > 36;
  const int32_t n = net.Top;
  TNetworkFileWriter out;
  if (net.TypeCode >= 11)
    out.Int((wide ? -4000 : -3000) - n);
  else if (net.Phase > 1)
    out.Int((wide ? -2000 : -1000) - n);
  else
    out.Int(wide ? n + 1000 : n);
  WriteWeightBlocks(out, net);
  out.Double(net.Carried);
  out.Double(net.Rate);
  out.Int(net.Current);
  if (net.TypeCode >= 11) {
    out.Floats(net.B1.data(), net.B1.size());
    out.Floats(net.Bo.data(), net.Bo.size());
  }
  if (net.Phase > 1) WriteTables(out, net);
  return Commit(fileName, out);
}

bool WriteUniversalNetworkFile(const std::string& fileName, const TNetworkWeights& net) {
  TNetworkFileWriter out;
  if (net.Phase == 1 && net.TypeCode <= 10) {
    out.Int(net.TypeCode);
    out.Int(net.Top);
  } else {
    out.Int(8);
    out.Int(net.Top);
    out.Int(net.TypeCode);
  }
  WriteFilterBody(out, net);
  if (net.TypeCode > 2 || net.Phase > 1) WriteAllBiases(out, net);
  if (net.Phase > 1) WriteTables(out, net);
  return Commit(fileName, out);
}

bool WriteDebayerNetworkFile(const std::string& fileName, const TNetworkWeights& net) {
  TNetworkFileWriter out;
  out.Int(2);
  out.Int(net.Top);
  WriteFilterBody(out, net);
  WriteAllBiases(out, net);
  if (net.Phase > 1) WriteTables(out, net);
  return Commit(fileName, out);
}

}  // namespace astrelon
