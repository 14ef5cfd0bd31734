#pragma once
// Worker threads that stay awake for a run of many short jobs (a few
// microseconds each), such as the rows of one step of a walk whose steps
// follow each other: a job is a count of numbered items that the threads claim
// one at a time, the calling thread among them. Between jobs the workers spin
// a while before they sleep, so that the next job starts without a wake-up.
// Which thread takes which item never changes what an item computes, so
// results do not depend on the number of threads. Threads the system refuses
// to start (StartBandThread) leave fewer workers; with none the caller does
// every item.
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace astrelon {

class TSpinTeam {
public:
  // `threads` in all, the calling thread included (at least 1).
  explicit TSpinTeam(int threads);
  ~TSpinTeam();
  TSpinTeam(const TSpinTeam&) = delete;
  TSpinTeam& operator=(const TSpinTeam&) = delete;

  int Threads() const { return int(workers_.size()) + 1; }

  // Calls item(index) for index 0 .. count - 1 and returns when all have
  // ended; the first exception is rethrown (no further item starts).
  void Run(int64_t count, const std::function<void(int64_t index)>& item);

private:
  // A job's fields, written by the caller while no worker can hold a ticket
  // of the job that used the slot before (two generations back), read by a
  // worker as a consistent copy (Generation before and after).
  struct TJob {
    std::atomic<uint32_t> Generation{0};
    std::atomic<const std::function<void(int64_t)>*> Item{nullptr};
    std::atomic<int64_t> Count{0};
    std::atomic<int64_t> Done{0};
  };
  // Takes the next ticket and runs its item; false once its job has none left.
  bool Claim();
  void Loop(uint32_t seen);

  // The current ticket: generation in the high 32 bits, next item below.
  std::atomic<uint64_t> ticket_{0};
  std::atomic<uint32_t> wake_{0};
  TJob jobs_[2];  // by generation parity
  std::atomic<bool> stop_{false}, failed_{false};
  std::mutex errorMutex_;
  std::exception_ptr error_;
  std::vector<std::thread> workers_;
};

}  // namespace astrelon
