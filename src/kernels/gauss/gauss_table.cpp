#include "kernels/gauss/gauss_table.h"

#include <atomic>
#include <chrono>

#include "kernels/gauss/box_muller.h"

namespace astrelon {

uint64_t MixSeed(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

TNoiseRandom::TNoiseRandom(uint64_t seed) {
  for (uint64_t& v : s_) v = seed = MixSeed(seed);
}

uint64_t TNoiseRandom::Next() {
  const uint64_t result = s_[0] + s_[3];
  const uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = (s_[3] << 45) | (s_[3] >> 19);
  return result;
}

uint64_t NewNoiseSeed() {
  static std::atomic<uint64_t> counter{0};
  const auto now = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  return MixSeed(now ^ (counter.fetch_add(1) << 48));
}

void FillGaussTable(TGaussTable& table, TNoiseRandom& random) {
  // Box–Muller: two normal values from two uniform ones.
  for (size_t i = 0; i < table.size(); i += 2) {
    const auto x1 = uint32_t(random.Next() >> 32), x2 = uint32_t(random.Next() >> 32);
    float z0 = 0, z1 = 0;
    boxmuller::BoxMuller(boxmuller::FirstUniform(x1), boxmuller::SecondUniform(x2), z0, z1);
    table[i] = z0;
    if (i + 1 < table.size()) table[i + 1] = z1;
  }
}

}  // namespace astrelon
