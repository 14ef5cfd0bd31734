#include "kernels/network/network_file_codec.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <utility>

#include "common/engine_ui.h"

namespace astrelon {

namespace {

// No valid file is larger: the longest header, 1001 wide rows, both weight
// layers, the carried value, rate and current, every bias and every table.
constexpr uint64_t LargestNetworkFile = 12 + uint64_t(NetworkMaxNeurons) * (61 + 21) * 4 + 21 * 16 + 8 + 8 + 4 +
                                        (uint64_t(NetworkMaxNeurons) + 25) * 4 +
                                        (uint64_t(NetworkMaxNeurons) + 21) * NetworkTableSize * 4;

uint64_t LittleEndian(const unsigned char* p, int count) {
  uint64_t v = 0;
  for (int b = count - 1; b >= 0; --b) v = v << 8 | p[b];
  return v;
}

}  // namespace

const unsigned char* TNetworkFileReader::Take(size_t count) {
  if (pos_ > data_.size() || count > data_.size() - pos_) return nullptr;
  const unsigned char* p = data_.data() + pos_;
  pos_ += count;
  return p;
}

bool TNetworkFileReader::Int(int32_t& v) {
  const unsigned char* p = Take(4);
  if (p) v = int32_t(uint32_t(LittleEndian(p, 4)));
  return p != nullptr;
}

bool TNetworkFileReader::Double(double& v) {
  const unsigned char* p = Take(8);
  if (p) v = std::bit_cast<double>(LittleEndian(p, 8));
  return p != nullptr;
}

bool TNetworkFileReader::Floats(float* to, size_t count) {
  if (count > SIZE_MAX / 4) return false;
  const unsigned char* p = Take(count * 4);
  if (!p) return false;
  for (size_t i = 0; i < count; ++i) to[i] = std::bit_cast<float>(uint32_t(LittleEndian(p + 4 * i, 4)));
  return true;
}

void TNetworkFileWriter::Put(uint64_t bits, int count) {
  for (int b = 0; b < count; ++b) bytes_.push_back(char((bits >> (8 * b)) & 0xff));
}

void TNetworkFileWriter::Int(int32_t v) { Put(uint32_t(v), 4); }

void TNetworkFileWriter::Double(double v) { Put(std::bit_cast<uint64_t>(v), 8); }

void TNetworkFileWriter::Floats(const float* from, size_t count) {
  for (size_t i = 0; i < count; ++i) Put(std::bit_cast<uint32_t>(from[i]), 4);
}

bool ReadNetworkFileBytes(const std::string& fileName, std::vector<unsigned char>& data, uint64_t& fileSize) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fileName, ec)) return false;
  fileSize = std::filesystem::file_size(fileName, ec);
  if (ec) return false;
  std::ifstream file(fileName, std::ios::binary);
  data.resize(size_t(std::min(fileSize, LargestNetworkFile)));
  return file && file.read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size()));
}

bool KnownNetworkType(int32_t type) {
  switch (type) {
    case 1: case 2: case 3: case 4: case 6: case 7: case 11: case 13: case 14: case 16: case 17:
      return true;
    default:
      return false;
  }
}

void SetNetworkLayout(TNetworkWeights& net) {
  net.InputTop = 36;
  net.Layer2Top = 20;
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
}

uint64_t WeightBlockBytes(uint64_t neurons, int32_t rowWidth) {
  return neurons * uint64_t(rowWidth + NetworkLayer2Size) * 4 + NetworkLayer2Size * 16;
}

bool ReadWeightBlocks(TNetworkFileReader& in, TNetworkWeights& net) {
  std::vector<float> row(size_t(std::max(net.RowWidth, NetworkLayer2Size)));
  for (int32_t j = 0; j <= net.Top; ++j) {
    if (!in.Floats(row.data(), size_t(net.RowWidth))) return false;
    for (int32_t i = 0; i < net.RowWidth; ++i) net.W1At(j, i) = row[size_t(i)];
  }
  for (int32_t j = 0; j <= net.Top; ++j)
    if (!in.Floats(&net.W2At(j, 0), NetworkLayer2Size)) return false;
  return in.Floats(net.Wout.data(), net.Wout.size());
}

void WriteWeightBlocks(TNetworkFileWriter& out, const TNetworkWeights& net) {
  std::vector<float> row(size_t(net.RowWidth));
  for (int32_t j = 0; j <= net.Top; ++j) {
    for (int32_t i = 0; i < net.RowWidth; ++i) row[size_t(i)] = net.W1At(j, i);
    out.Floats(row.data(), row.size());
  }
  for (int32_t j = 0; j <= net.Top; ++j) out.Floats(net.W2.data() + size_t(j) * NetworkW2Stride, NetworkLayer2Size);
  out.Floats(net.Wout.data(), net.Wout.size());
}

bool ReadTables(TNetworkFileReader& in, TNetworkWeights& net) {
  if (!in.Floats(net.Tables2.data(), net.Tables2.size())) return false;
  return in.AtEnd() || in.Floats(net.Tables1.data(), net.Tables1.size());
}

void WriteTables(TNetworkFileWriter& out, const TNetworkWeights& net) {
  out.Floats(net.Tables2.data(), net.Tables2.size());
  out.Floats(net.Tables1.data(), net.Tables1.size());
}

namespace {

// Weights, biases and tables that are all finite numbers: a NaN or infinite
// weight would make every output of the network NaN.
bool AllFinite(const TNetworkWeights& net) {
  const auto finite = [](const auto& values) {
    return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
  };
  return finite(net.W1) && finite(net.W2) && finite(net.Wout) && finite(net.B1) && finite(net.B2) &&
         finite(net.Bo) && finite(net.Tables1) && finite(net.Tables2);
}

}  // namespace

bool LoadNetworkWith(const std::string& fileName, TNetworkBodyReader read, int32_t& n, int32_t& current,
                     int32_t& inputTop) {
  std::vector<unsigned char> data;
  uint64_t size = 0;
  TNetworkWeights net;
  bool ok = ReadNetworkFileBytes(fileName, data, size);
  if (ok) {
    TNetworkFileReader in(data, size);
    ok = read(in, net) && AllFinite(net);
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
