#include "pixelops/mosaic/row_wavefront.h"


namespace astrelon {

void TRowWavefront::Reset(int32_t first, int32_t last, int32_t width, int32_t lead) {
  const size_t rows = last >= first ? size_t(last - first + 1) : 0;
  if (rows > rows_) {
    done_ = std::make_unique<TProgress[]>(rows);
    rows_ = rows;
  }
  for (size_t i = 0; i < rows; ++i) done_[i].Columns.store(0, std::memory_order_relaxed);
  first_ = first;
  last_ = last;
  width_ = width;
  lead_ = lead;
  next_.store(first, std::memory_order_relaxed);
}

void TRowWavefront::WaitFor(int32_t y, int32_t x) const {
  const std::atomic<int32_t>& done = done_[size_t(y - first_)].Columns;
  // A short spin, then sleep until the row moves on: a worker that waits gives
  // its core to the one it waits for when the machine has more threads than cores.
  for (int32_t spins = 0; spins < 128; ++spins) {
    if (done.load(std::memory_order_acquire) >= x) return;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  for (int32_t seen; (seen = done.load(std::memory_order_acquire)) < x;) done.wait(seen, std::memory_order_acquire);
}

}  // namespace astrelon
