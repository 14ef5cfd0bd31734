#pragma once
// Worker threads started once for a long operation and given one job after
// another: each job is a run of numbered items that the threads claim one at a
// time as they become free, the calling thread among them. Which thread takes
// which item never changes what an item computes, so results do not depend on
// the number of threads. Threads that the system refuses to start
// (StartBandThread) leave fewer workers; with none the caller does every item.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

namespace astrelon {

class TWorkerPool {
public:
  // `threads` workers in all, the calling thread included (at least 1).
  explicit TWorkerPool(int threads);
  ~TWorkerPool();
  TWorkerPool(const TWorkerPool&) = delete;
  TWorkerPool& operator=(const TWorkerPool&) = delete;

  // Workers that run (the calling thread is worker 0).
  int Threads() const;

  // Calls item(index, worker) for index 0 .. count - 1 and returns when all have
  // ended. The calling thread calls `between` after each of its own items,
  // about every 20 ms while it waits for the others and once at the end (to
  // keep a user interface live). After an exception no further item starts; the first is rethrown.
  void Run(int64_t count, const std::function<void(int64_t index, int worker)>& item,
           const std::function<void()>& between = {});

private:
  struct TShared;
  std::unique_ptr<TShared> shared_;
};

}  // namespace astrelon
