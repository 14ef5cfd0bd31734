#pragma once
// Splitting a loop over rows (or planes) into contiguous bands that run on
// threads of their own; each index is handled exactly as in a single loop, so
// results do not depend on the number of threads.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <thread>
#include <vector>

namespace astrelon {

// How worker threads are started. Tests install a starter that refuses chosen
// starts by throwing std::system_error, as std::thread does when the process
// may start no more threads; nullptr starts a plain std::thread.
using TThreadStarter = std::thread (*)(std::function<void()> body);
inline TThreadStarter BandThreadStarter = nullptr;

inline std::thread StartBandThread(std::function<void()> body) {
  return BandThreadStarter ? BandThreadStarter(std::move(body)) : std::thread(std::move(body));
}

// Threads worth starting for `count` items of which each thread should get at
// least `minPerThread`: 1 .. min(processors, 8); 1 when `allowed` is false.
inline int BandThreads(int64_t count, int64_t minPerThread, bool allowed) {
  if (!allowed || count < 2 * minPerThread) return 1;
  const int64_t hw = std::max(1u, std::thread::hardware_concurrency());
  return int(std::clamp<int64_t>(count / std::max<int64_t>(minPerThread, 1), 1, std::min<int64_t>(hw, 8)));
}

// Calls fn(first, last) for the bands of [0, count); the calling thread takes the
// first band. A band whose thread cannot be started (the system refuses it)
// runs on the calling thread instead, so every band runs exactly once. An
// exception in any band is rethrown after all have ended.
template <typename F>
void ForEachBand(int64_t count, int threads, F&& fn) {
  threads = int(std::clamp<int64_t>(threads, 1, std::max<int64_t>(count, 1)));
  if (threads == 1) {
    fn(int64_t(0), count);
    return;
  }
  std::vector<std::exception_ptr> errors(static_cast<size_t>(threads));
  auto band = [&](int k) {
    try {
      fn(count * k / threads, count * (k + 1) / threads);
    } catch (...) {
      errors[size_t(k)] = std::current_exception();
    }
  };
  std::vector<std::thread> workers;
  int started = 1;  // bands 1 .. started-1 have threads of their own
  try {
    workers.reserve(size_t(threads - 1));
    for (; started < threads; ++started) workers.push_back(StartBandThread([&band, k = started] { band(k); }));
  } catch (...) {
    // No more threads: the remaining bands run here.
  }
  band(0);
  for (int k = started; k < threads; ++k) band(k);
  for (auto& w : workers) w.join();
  for (auto& e : errors)
    if (e) std::rethrow_exception(e);
}

}  // namespace astrelon
