#pragma once
// Builds filter network weight files byte by byte: little-endian 32-bit
// integers and floats, 64-bit rates, in the order the reader expects.
#include <cstdint>
#include <cstring>
#include <vector>

namespace astrelon::test {

struct TNetworkFileBytes {
  std::vector<unsigned char> Bytes;

  template <typename T>
  TNetworkFileBytes& Put(T v) {
    unsigned char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    Bytes.insert(Bytes.end(), b, b + sizeof(T));
    return *this;
  }
  TNetworkFileBytes& Floats(size_t count, float v = 0.0f) {
    for (size_t i = 0; i < count; ++i) Put(v);
    return *this;
  }
  // W1 (narrow rows), W2 and Wout of a network with n + 1 neurons, all `v`;
  // then the rate and the neurons in use.
  TNetworkFileBytes& Body(int32_t n, float v = 0.0f, double rate = 0.01, int32_t current = 0) {
    Floats(size_t(n + 1) * 37, v).Floats(size_t(n + 1) * 21, v).Floats(21 * 4, v);
    return Put(rate).Put(current);
  }
  // b1, b2 and bo.
  TNetworkFileBytes& Biases(int32_t n, float v = 0.0f) { return Floats(size_t(n + 1) + 21 + 4, v); }
  // The 21 layer-2 tables and the n + 1 layer-1 tables.
  TNetworkFileBytes& Tables(int32_t n, float v) { return Floats(size_t(21 + n + 1) * 4001, v); }
};

}  // namespace astrelon::test
