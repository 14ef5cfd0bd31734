#include "pixelops/mosaic/row_wavefront.h"

#include <thread>

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
  for (int32_t spins = 0; done.load(std::memory_order_acquire) < x; ++spins) {
    if (spins < 64) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    } else {
      std::this_thread::yield();
    }
  }
}

}  // namespace astrelon
