#include "store/fits/fits_chunk_turns.h"

namespace astrelon {

int64_t TChunkTurns::Claim() {
  if (Failed()) return -1;
  const int64_t chunk = next_.fetch_add(1, std::memory_order_relaxed);
  return chunk < count_ ? chunk : -1;
}

bool TChunkTurns::WaitTurn(int64_t chunk) {
  std::unique_lock<std::mutex> lock(mutex_);
  turnChanged_.wait(lock, [&] { return turn_ == chunk || Failed(); });
  return !Failed();
}

void TChunkTurns::PassTurn() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++turn_;
  }
  turnChanged_.notify_all();
}

void TChunkTurns::Fail() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    failed_.store(true, std::memory_order_release);
  }
  turnChanged_.notify_all();
}

}  // namespace astrelon
