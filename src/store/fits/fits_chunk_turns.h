#pragma once
// Work on a file split into numbered chunks that worker threads claim one after
// another. A step that must happen in file order (writing, or reading a file
// that is not in memory front to back) waits for its chunk's turn; the rest of
// the work runs side by side. Each chunk is handled the same way whichever
// thread claims it, so the results do not depend on the number of threads.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/parallel_bands.h"

namespace astrelon {

class TChunkTurns {
public:
  explicit TChunkTurns(int64_t count) : count_(count) {}

  // The next chunk to work on; -1 when every chunk is claimed or the work failed.
  int64_t Claim();
  // Waits until every chunk before `chunk` has had its turn; false when the work failed.
  bool WaitTurn(int64_t chunk);
  // Ends the turn of the chunk that holds it.
  void PassTurn();
  // Stops the work: no chunk is claimed any more and nobody waits for a turn.
  void Fail();
  bool Failed() const { return failed_.load(std::memory_order_acquire); }

private:
  const int64_t count_;
  std::atomic<int64_t> next_{0};
  std::atomic<bool> failed_{false};
  std::mutex mutex_;
  std::condition_variable turnChanged_;
  int64_t turn_ = 0;
};

// Runs worker() on `threads` threads (one of them the caller); each worker
// claims chunks from `turns` until none is left. A worker's exception fails the
// turns, so that no other worker waits for it, and is passed on to the caller.
template <typename F>
void RunChunkWorkers(int threads, TChunkTurns& turns, F&& worker) {
  ForEachBand(threads, threads, [&](int64_t first, int64_t last) {
    for (int64_t k = first; k < last; ++k) {
      try {
        worker();
      } catch (...) {
        turns.Fail();
        throw;
      }
    }
  });
}

}  // namespace astrelon
