#include "platform/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/parallel_bands.h"

namespace astrelon {

struct TWorkerPool::TShared {
  std::mutex Mutex;
  std::condition_variable Wake, Done;
  std::vector<std::thread> Threads;
  // The current job.
  const std::function<void(int64_t, int)>* Item = nullptr;
  int64_t Count = 0;
  std::atomic<int64_t> Next{0};
  std::atomic<bool> Failed{false};
  std::exception_ptr Error;
  uint64_t Generation = 0;
  int Busy = 0;  // pool threads still on the current job
  bool Stop = false;

  // Claims items of the current job until none is left; `after` runs after each.
  void Work(int worker, const std::function<void()>* after) {
    for (int64_t i = Next++; i < Count && !Failed; i = Next++) {
      try {
        (*Item)(i, worker);
      } catch (...) {
        const std::lock_guard lock(Mutex);
        if (!Error) Error = std::current_exception();
        Failed = true;
      }
      if (after && *after) (*after)();
    }
  }

  void Loop(int worker) {
    uint64_t seen = 0;
    std::unique_lock lock(Mutex);
    for (;;) {
      Wake.wait(lock, [&] { return Stop || Generation != seen; });
      if (Stop) return;
      seen = Generation;
      lock.unlock();
      Work(worker, nullptr);
      lock.lock();
      if (--Busy == 0) Done.notify_all();
    }
  }
};

TWorkerPool::TWorkerPool(int threads) : shared_(std::make_unique<TShared>()) {
  TShared& s = *shared_;
  try {
    for (int k = 1; k < std::max(threads, 1); ++k) {
      s.Threads.push_back(StartBandThread([&s, k] { s.Loop(k); }));
    }
  } catch (...) {
    // No more threads: the ones started and the caller do the work.
  }
}

TWorkerPool::~TWorkerPool() {
  {
    const std::lock_guard lock(shared_->Mutex);
    shared_->Stop = true;
  }
  shared_->Wake.notify_all();
  for (std::thread& t : shared_->Threads) t.join();
}

int TWorkerPool::Threads() const { return int(shared_->Threads.size()) + 1; }

void TWorkerPool::Run(int64_t count, const std::function<void(int64_t, int)>& item,
                      const std::function<void()>& between) {
  if (count <= 0) return;
  TShared& s = *shared_;
  {
    const std::lock_guard lock(s.Mutex);
    s.Item = &item;
    s.Count = count;
    s.Next = 0;
    s.Failed = false;
    s.Error = nullptr;
    s.Busy = int(s.Threads.size());
    ++s.Generation;
  }
  s.Wake.notify_all();
  s.Work(0, &between);
  {
    std::unique_lock lock(s.Mutex);
    while (!s.Done.wait_for(lock, std::chrono::milliseconds(20), [&] { return s.Busy == 0; })) {
      if (!between) continue;
      lock.unlock();
      between();
      lock.lock();
    }
    s.Item = nullptr;
  }
  if (between) between();
  if (s.Error) std::rethrow_exception(s.Error);
}

}  // namespace astrelon
