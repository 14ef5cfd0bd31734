#pragma once
// Splitting a loop over rows (or planes) into contiguous bands that run on
// threads of their own; each index is handled exactly as in a single loop, so
// results do not depend on the number of threads.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

namespace astrelon {

// Threads worth starting for `count` items of which each thread should get at
// least `minPerThread`: 1 .. min(processors, 8); 1 when `allowed` is false.
inline int BandThreads(int64_t count, int64_t minPerThread, bool allowed) {
  if (!allowed || count < 2 * minPerThread) return 1;
  const int64_t hw = std::max(1u, std::thread::hardware_concurrency());
  return int(std::clamp<int64_t>(count / std::max<int64_t>(minPerThread, 1), 1, std::min<int64_t>(hw, 8)));
}

// Calls fn(first, last) for the bands of [0, count); the calling thread takes the
// first band. An exception in any band is rethrown after all have ended.
template <typename F>
void ForEachBand(int64_t count, int threads, F&& fn) {
  threads = int(std::clamp<int64_t>(threads, 1, std::max<int64_t>(count, 1)));
  if (threads == 1) {
    fn(int64_t(0), count);
    return;
  }
  std::vector<std::exception_ptr> errors(static_cast<size_t>(threads));
  std::vector<std::thread> workers;
  workers.reserve(size_t(threads - 1));
  auto band = [&](int k) {
    try {
      fn(count * k / threads, count * (k + 1) / threads);
    } catch (...) {
      errors[size_t(k)] = std::current_exception();
    }
  };
  for (int k = 1; k < threads; ++k) workers.emplace_back(band, k);
  band(0);
  for (auto& w : workers) w.join();
  for (auto& e : errors)
    if (e) std::rethrow_exception(e);
}

}  // namespace astrelon
