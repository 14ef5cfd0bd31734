#pragma once
// Splitting a loop over rows into small chunks that threads take one after
// another as they become free, so that a thread the system holds back does not
// hold up the others. Each index is handled exactly as in a single loop, so
// results do not depend on the number of threads or on who takes which chunk.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

#include "platform/parallel_bands.h"

namespace astrelon {

// Calls fn(first, last) for the chunks [k chunk, (k + 1) chunk) of [0, count) on
// `threads` threads (the calling thread among them; fewer when the system
// refuses to start more, StartBandThread), and poll() in the calling thread
// after each chunk it worked. When poll returns false no further chunk starts
// (those running end) and the result is false. After an exception no further
// chunk starts either; the first one is rethrown when all threads have ended.
template <typename F, typename P>
bool ForEachChunkPolled(int64_t count, int64_t chunk, int threads, F&& fn, P&& poll) {
  chunk = std::max<int64_t>(chunk, 1);
  const int64_t chunks = (count + chunk - 1) / chunk;
  threads = int(std::clamp<int64_t>(threads, 1, std::max<int64_t>(chunks, 1)));
  if (threads == 1) {
    for (int64_t first = 0; first < count; first += chunk) {
      fn(first, std::min(count, first + chunk));
      if (!poll()) return false;
    }
    return true;
  }
  std::atomic<int64_t> next{0};
  std::atomic<bool> stop{false};
  bool stopped = false;  // by the poll
  std::vector<std::exception_ptr> errors(static_cast<size_t>(threads));
  auto work = [&](int k) {
    try {
      for (int64_t c = next++; c < chunks && !stop; c = next++) {
        fn(c * chunk, std::min(count, (c + 1) * chunk));
        if (k == 0 && !poll()) {
          stopped = true;
          stop = true;
        }
      }
    } catch (...) {
      errors[size_t(k)] = std::current_exception();
      stop = true;
    }
  };
  std::vector<std::thread> workers;
  try {
    workers.reserve(size_t(threads - 1));
    for (int k = 1; k < threads; ++k) workers.push_back(StartBandThread([&work, k] { work(k); }));
  } catch (...) {
    // No more threads: the ones started and this one take every chunk.
  }
  work(0);
  for (auto& w : workers) w.join();
  for (auto& e : errors)
    if (e) std::rethrow_exception(e);
  return !stopped;
}

// ForEachChunk without a poll.
template <typename F>
void ForEachChunk(int64_t count, int64_t chunk, int threads, F&& fn) {
  ForEachChunkPolled(count, chunk, threads, fn, [] { return true; });
}

}  // namespace astrelon
