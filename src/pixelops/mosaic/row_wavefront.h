#pragma once
// A pass that must see the image as a single left-to-right, top-to-bottom sweep
// would (each pixel reads the new values above and to its left and the old ones
// below and to its right), run on several workers at once: rows are taken in
// rising order, each in chunks of columns, and a chunk starts only when the row
// above has finished every column up to `lead` past the chunk's end. With lead
// at least the pass's reach, every pixel reads exactly what the single sweep
// would give it, whatever the number of workers. A worker only ever waits for a
// row taken earlier, so the sweep finishes with any number of workers, one too.
#include <atomic>
#include <cstdint>
#include <memory>

namespace astrelon {

class TRowWavefront {
public:
  static constexpr int32_t Chunk = 128;

  // Prepares a sweep over rows first .. last (inclusive) of `width` columns.
  // Not while a sweep runs.
  void Reset(int32_t first, int32_t last, int32_t width, int32_t lead);

  // Takes rows until none is left; fn(y, x0, x1) does columns x0 .. x1 - 1.
  template <typename F>
  void Run(F&& fn) {
    for (int32_t y; (y = next_.fetch_add(1, std::memory_order_relaxed)) <= last_;) {
      for (int32_t x0 = 0; x0 < width_; x0 += Chunk) {
        const int32_t x1 = x0 + Chunk < width_ ? x0 + Chunk : width_;
        if (y > first_) WaitFor(y - 1, x1 + lead_ < width_ ? x1 + lead_ : width_);
        fn(y, x0, x1);
        std::atomic<int32_t>& done = done_[size_t(y - first_)].Columns;
        done.store(x1, std::memory_order_release);
        done.notify_all();
      }
    }
  }

private:
  // Waits until row y has finished its columns before x.
  void WaitFor(int32_t y, int32_t x) const;

  int32_t first_ = 0, last_ = -1, width_ = 0, lead_ = 0;
  std::atomic<int32_t> next_{0};
  // Per row: the columns before this are final; a cache line each, so that a
  // row's progress does not disturb the workers reading its neighbours'.
  struct alignas(64) TProgress {
    std::atomic<int32_t> Columns{0};
  };
  std::unique_ptr<TProgress[]> done_;
  size_t rows_ = 0;
};

}  // namespace astrelon
