// Row sweeps on several threads give exactly the single sweep's values: an
// in-place pass whose pixels read new values above and to the left and old
// ones below and to the right, two columns either side.
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "pixelops/mosaic/row_wavefront.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr int32_t Reach = 2;

void Pass(std::vector<float>& v, int32_t w, int32_t y, int32_t x0, int32_t x1) {
  for (int32_t x = std::max(x0, Reach); x < x1 && x < w - Reach; ++x) {
    const auto at = [&](int32_t dx, int32_t dy) { return v[size_t((y + dy) * w + x + dx)]; };
    v[size_t(y * w + x)] = 0.25f * at(0, 0) + 0.2f * at(-1, 0) + 0.15f * at(2, -1) + 0.1f * at(-2, 1) +
                           0.1f * at(2, 1) + 0.1f * at(1, 0) + 0.1f * at(0, -2);
  }
}

std::vector<float> Sweep(std::vector<float> v, int32_t w, int32_t h, int threads) {
  TRowWavefront sweep;
  for (int round = 0; round < 2; ++round) {  // a wavefront is used again after Reset
    sweep.Reset(Reach, h - 1 - Reach, w, Reach + 1);
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
      pool.emplace_back([&] { sweep.Run([&](int32_t y, int32_t x0, int32_t x1) { Pass(v, w, y, x0, x1); }); });
    sweep.Run([&](int32_t y, int32_t x0, int32_t x1) { Pass(v, w, y, x0, x1); });
    for (std::thread& t : pool) t.join();
  }
  return v;
}

TEST(RowWavefront, AnyNumberOfThreadsGivesTheSingleSweep) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(0.0f, 1000.0f);
  for (const auto& [w, h] : {std::pair{7, 9}, std::pair{TRowWavefront::Chunk + 3, 40}, std::pair{700, 61}}) {
    std::vector<float> v(size_t(w * h));
    for (float& x : v) x = u(rng);
    // The plain sweep, row after row.
    std::vector<float> plain = v;
    for (int round = 0; round < 2; ++round)
      for (int32_t y = Reach; y <= h - 1 - Reach; ++y) Pass(plain, w, y, 0, w);
    for (const int threads : {1, 2, 5, 8}) EXPECT_EQ(Sweep(v, w, h, threads), plain) << w << " " << threads;
  }
  // No rows: nothing runs.
  TRowWavefront empty;
  empty.Reset(5, 4, 10, 3);
  int calls = 0;
  empty.Run([&](int32_t, int32_t, int32_t) { ++calls; });
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace astrelon::test
