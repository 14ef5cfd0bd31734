#pragma once
// The pieces the network weight file readers and writers share: little-endian
// values by explicit byte order, the weight and table blocks in file order, the
// type codes a file may hold and the layout each implies.
#include <cstdint>
#include <string>
#include <vector>

#include "kernels/network/network_weights.h"

namespace astrelon {

// Sequential little-endian reads from a file held in memory; a read past the
// data fails. `fileSize` is the length of the file, which may exceed the
// data read (a file longer than any network is read only in part).
class TNetworkFileReader {
public:
  TNetworkFileReader(const std::vector<unsigned char>& data, uint64_t fileSize)
      : data_(data), fileSize_(fileSize) {}
  bool Int(int32_t& v);
  bool Double(double& v);
  bool Floats(float* to, size_t count);
  bool AtEnd() const { return pos_ >= fileSize_; }
  uint64_t Remaining() const { return fileSize_ > pos_ ? fileSize_ - pos_ : 0; }

private:
  const unsigned char* Take(size_t count);
  const std::vector<unsigned char>& data_;
  uint64_t fileSize_;
  uint64_t pos_ = 0;
};

// Little-endian values appended to a byte string.
class TNetworkFileWriter {
public:
  void Int(int32_t v);
  void Double(double v);
  void Floats(const float* from, size_t count);
  const std::string& Bytes() const { return bytes_; }

private:
  void Put(uint64_t bits, int count);
  std::string bytes_;
};

// The file's bytes, at most as many as the largest network file holds, and its
// length. False when it cannot be read.
bool ReadNetworkFileBytes(const std::string& fileName, std::vector<unsigned char>& data, uint64_t& fileSize);

// Whether a weight file may hold this type code: the codes the training
// writes (1, 2, 3, 4, 6, 7, 11, 13, 14, 16, 17).
bool KnownNetworkType(int32_t type);
// The input top index, W1 row width and layer-2 top index of the type code.
void SetNetworkLayout(TNetworkWeights& net);

// Bytes of W1, W2 and Wout of a network of `neurons` neurons and rows of
// `rowWidth` floats.
uint64_t WeightBlockBytes(uint64_t neurons, int32_t rowWidth);

// W1 (n + 1 rows of RowWidth floats), W2 (n + 1 rows of 21) and Wout (21 rows
// of 4), in file order.
bool ReadWeightBlocks(TNetworkFileReader& in, TNetworkWeights& net);
void WriteWeightBlocks(TNetworkFileWriter& out, const TNetworkWeights& net);
// The 21 layer-2 tables, then the n + 1 layer-1 tables unless the file ends
// after the first set.
bool ReadTables(TNetworkFileReader& in, TNetworkWeights& net);
void WriteTables(TNetworkFileWriter& out, const TNetworkWeights& net);

// Reads a weight file with `read` (header and body into a fresh record) and
// replaces Network with it when the whole file was read; otherwise shows the
// file name, a line break and "konnte nicht geöffnet werden!" and leaves
// Network as it was. `n`, `current` and `inputTop` receive the network's top
// neuron index, neurons in use minus one and top input index.
using TNetworkBodyReader = bool (*)(TNetworkFileReader& in, TNetworkWeights& net);
bool LoadNetworkWith(const std::string& fileName, TNetworkBodyReader read, int32_t& n, int32_t& current,
                     int32_t& inputTop);

}  // namespace astrelon
