#include "platform/spin_team.h"

#include "platform/parallel_bands.h"
#include "platform/simd_support.h"

namespace astrelon {

namespace {

// Some tens of microseconds of waiting before a worker sleeps.
constexpr int SpinRounds = 4000;

inline void Pause() {
#if ASTRELON_HAVE_SSE2
  _mm_pause();
#else
  std::this_thread::yield();
#endif
}

}  // namespace

TSpinTeam::TSpinTeam(int threads) {
  try {
    for (int k = 1; k < threads; ++k) workers_.push_back(StartBandThread([this] { Loop(0); }));
  } catch (...) {
    // No more threads: the ones started and the caller do the work.
  }
}

TSpinTeam::~TSpinTeam() {
  stop_ = true;
  wake_.fetch_add(1);
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

bool TSpinTeam::Claim() {
  const uint64_t ticket = ticket_.fetch_add(1, std::memory_order_acq_rel);
  const uint32_t generation = uint32_t(ticket >> 32);
  TJob& job = jobs_[generation & 1];
  // A slot already holding a later job means the ticket's job has ended: its
  // items were all taken before (this one included).
  if (job.Generation.load(std::memory_order_acquire) != generation) return false;
  const std::function<void(int64_t)>* item = job.Item.load(std::memory_order_relaxed);
  const int64_t count = job.Count.load(std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_acquire);
  if (job.Generation.load(std::memory_order_relaxed) != generation) return false;
  const int64_t index = int64_t(ticket & 0xFFFFFFFFu);
  if (index >= count) return false;
  if (!failed_.load(std::memory_order_relaxed)) {
    try {
      (*item)(index);
    } catch (...) {
      const std::lock_guard lock(errorMutex_);
      if (!error_) error_ = std::current_exception();
      failed_ = true;
    }
  }
  job.Done.fetch_add(1, std::memory_order_acq_rel);
  return true;
}

void TSpinTeam::Loop(uint32_t seen) {
  // A worker that starts late joins the jobs posted since the team was made
  // (their tickets tell which are still open).
  for (;;) {
    int spins = 0;
    uint32_t now;
    while ((now = wake_.load(std::memory_order_acquire)) == seen) {
      if (stop_) return;
      if (++spins < SpinRounds)
        Pause();
      else
        wake_.wait(seen, std::memory_order_acquire);
    }
    seen = now;
    if (stop_) return;
    while (Claim()) {
    }
  }
}

void TSpinTeam::Run(int64_t count, const std::function<void(int64_t)>& item) {
  if (count <= 0) return;
  const uint32_t generation = uint32_t(ticket_.load(std::memory_order_relaxed) >> 32) + 1;
  TJob& job = jobs_[generation & 1];
  job.Generation.store(0, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  job.Item.store(&item, std::memory_order_relaxed);
  job.Count.store(count, std::memory_order_relaxed);
  job.Done.store(0, std::memory_order_relaxed);
  job.Generation.store(generation, std::memory_order_release);
  ticket_.store(uint64_t(generation) << 32, std::memory_order_release);
  if (!workers_.empty()) {
    wake_.fetch_add(1, std::memory_order_acq_rel);
    wake_.notify_all();
  }
  while (Claim()) {
  }
  while (job.Done.load(std::memory_order_acquire) < count) Pause();
  if (failed_) {
    failed_ = false;
    std::exception_ptr e;
    {
      const std::lock_guard lock(errorMutex_);
      std::swap(e, error_);
    }
    if (e) std::rethrow_exception(e);
  }
}

}  // namespace astrelon
