#pragma once
// The threads of the baselines: a pool started once per program, so that a
// baseline's time holds no thread starts (the routines' own helper starts its
// threads per call, which is part of what they cost). PoolBands splits [0, count)
// into the same bands as ForEachBand; the calling thread takes the first.
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace astrelon::bench {

class TBandPool {
public:
  static constexpr int MaxThreads = 8;

  static TBandPool& Instance() {
    static TBandPool pool;
    return pool;
  }

  void Run(int64_t count, int threads, const std::function<void(int64_t, int64_t)>& fn) {
    threads = int(std::clamp<int64_t>(threads, 1, std::min<int64_t>(MaxThreads, std::max<int64_t>(count, 1))));
    if (threads == 1) {
      fn(0, count);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      job_ = &fn;
      count_ = count;
      threads_ = threads;
      pending_ = threads - 1;
      ++generation_;
    }
    wake_.notify_all();
    fn(0, count / threads);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    job_ = nullptr;
  }

  TBandPool(const TBandPool&) = delete;
  TBandPool& operator=(const TBandPool&) = delete;

private:
  TBandPool() {
    for (int k = 1; k < MaxThreads; ++k) workers_.emplace_back([this, k] { Work(k); });
  }
  ~TBandPool() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& w : workers_) w.join();
  }

  void Work(int k) {
    uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      if (k >= threads_) continue;
      const auto* job = job_;
      const int64_t count = count_, threads = threads_;
      lock.unlock();
      (*job)(count * k / threads, count * (k + 1) / threads);
      lock.lock();
      if (--pending_ == 0) done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::vector<std::thread> workers_;
  const std::function<void(int64_t, int64_t)>* job_ = nullptr;
  int64_t count_ = 0;
  int threads_ = 1, pending_ = 0;
  uint64_t generation_ = 0;
  bool stop_ = false;
};

// fn(first, last) for the bands of [0, count) on `threads` pool threads.
template <class F>
void PoolBands(int64_t count, int threads, F&& fn) {
  TBandPool::Instance().Run(count, threads, std::function<void(int64_t, int64_t)>(std::ref(fn)));
}

}  // namespace astrelon::bench
