#include "filters/network_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/engine_ui.h"
#include "filters/network_weights.h"

namespace astrelon {

namespace {

// No valid file is larger: 1001 wide rows, both weight layers, biases and every
// table.
constexpr uint64_t LargestNetworkFile =
    12 + 1001ull * (61 + 21) * 4 + 21 * 16 + 12 + (1001 + 25) * 4 + (1001ull + 21) * NetworkTableSize * 4;

// Sequential little-endian reads that fail past the end of the data.
class TReader {
public:
  TReader(const std::vector<char>& data, uint64_t fileSize) : data_(data), fileSize_(fileSize) {}
  template <typename T>
  bool Read(T& value) {
    return ReadBytes(&value, sizeof(T));
  }
  bool ReadFloats(float* to, size_t count) { return ReadBytes(to, count * sizeof(float)); }
  bool AtEnd() const { return pos_ >= fileSize_; }
  uint64_t Remaining() const { return fileSize_ - std::min<uint64_t>(pos_, fileSize_); }

private:
  bool ReadBytes(void* to, size_t count) {
    if (count > data_.size() - std::min(pos_, data_.size())) return false;
    std::memcpy(to, data_.data() + pos_, count);
    pos_ += count;
    return true;
  }
  const std::vector<char>& data_;
  uint64_t fileSize_;
  size_t pos_ = 0;
};

bool ReadNetwork(TReader& in, TNetworkWeights& net) {
  net = TNetworkWeights{};
  int32_t first = 0;
  if (!in.Read(first)) return false;
  int64_t a = first;
  if (a < 0) {
    a = -a;
    net.TypeCode = 3;
  }
  while (a > 1000) a -= 1000;
  int32_t n = 0;
  if (a < 9) {
    net.TypeCode = int32_t(a);
    if (!in.Read(n)) return false;
  } else {
    n = int32_t(a);
  }
  if (n < 1 || n > 1000) return false;
  if (net.TypeCode == 8) {
    if (!in.Read(net.TypeCode)) return false;
    net.Phase = 3;
  }
  switch (net.TypeCode) {
    case 4:
    case 14:
      net.InputTop = 60;
      break;
    case 6:
    case 16:
      net.InputTop = 40;
      break;
    case 7:
    case 17:
      net.InputTop = 2;
      net.Layer2Top = 2;
      break;
    default:
      break;
  }
  net.RowWidth = net.InputTop > 36 ? 61 : 37;
  // Every block of the body must be in the file before anything is allocated.
  const uint64_t neurons = uint64_t(n) + 1;
  if (in.Remaining() < neurons * uint64_t(net.RowWidth + NetworkLayer2Size) * 4 + NetworkLayer2Size * 16 + 12)
    return false;
  net.Size(n);
  if (!in.ReadFloats(net.W1.data(), net.W1.size()) || !in.ReadFloats(net.W2.data(), net.W2.size()) ||
      !in.ReadFloats(net.Wout.data(), net.Wout.size()) || !in.Read(net.Rate) || !in.Read(net.Current))
    return false;
  if (net.Current > n || net.Current < 9) net.Current = n;
  const uint64_t rest = in.Remaining();
  if (!in.AtEnd() && (rest < 5000 || rest > 100000)) {
    if (!in.ReadFloats(net.B1.data(), net.B1.size()) || !in.ReadFloats(net.B2.data(), net.B2.size()) ||
        !in.ReadFloats(net.Bo.data(), net.Bo.size()))
      return false;
  }
  if (rest <= 100000 && !(net.Phase > 1 && net.TypeCode < 10)) {
    net.Phase = 1;
    net.Phase1Rate = net.Rate;
    return true;
  }
  if (!in.ReadFloats(net.Tables2.data(), net.Tables2.size())) return false;
  if (!in.AtEnd() && !in.ReadFloats(net.Tables1.data(), net.Tables1.size())) return false;
  net.Phase = 3;
  return true;
}

// Weights, biases and tables that are all finite numbers.
bool AllFinite(const TNetworkWeights& net) {
  const auto finite = [](const auto& values) {
    return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
  };
  return finite(net.W1) && finite(net.W2) && finite(net.Wout) && finite(net.B1) && finite(net.B2) && finite(net.Bo) &&
         finite(net.Tables1) && finite(net.Tables2);
}

}  // namespace

bool LoadNetworkFile(const std::string& fileName, int32_t& n, int32_t& current, int32_t& inputTop) {
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(fileName, ec);
  std::vector<char> data;
  bool ok = !ec;
  if (ok) {
    std::ifstream file(fileName, std::ios::binary);
    data.resize(size_t(std::min(size, LargestNetworkFile)));
    ok = file && file.read(data.data(), std::streamsize(data.size()));
  }
  TNetworkWeights net;
  if (ok) {
    TReader in(data, size);
    ok = ReadNetwork(in, net) && AllFinite(net);
  }
  if (!ok) {
    EngineUi().ShowMessage(fileName + "\nkonnte nicht geöffnet werden!");
    return false;
  }
  Network = std::move(net);
  n = Network.Top;
  current = Network.Current;
  inputTop = Network.InputTop;
  return true;
}

}  // namespace astrelon
