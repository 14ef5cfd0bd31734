#include "store/planes/pixel_blocks.h"

#include <algorithm>
#include <mutex>
#include <span>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/parallel_chunks.h"
#include "platform/processor_features.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

namespace {
// 4096 pixels of three planes stay within a core's second-level cache.
constexpr size_t BlockPixels = 4096;
// Blocks a thread takes at a time.
constexpr int64_t ChunkBlocks = 32;
}  // namespace

std::array<TMinMaxScan, 4> TransformPixelBlocks(TImageSlot& im, int planes,
                                                const std::function<void(size_t first, size_t count)>& fn) {
  std::array<TMinMaxScan, 4> scans{};
  const size_t n = im.PixelCount();
  planes = std::clamp(planes, 0, 3);
  for (int p = 1; p <= planes; ++p)
    if (im.Planes[size_t(p)].size() < n) planes = p - 1;
  if (n == 0) return scans;
  const int64_t blocks = int64_t((n + BlockPixels - 1) / BlockPixels);
  const int threads = BandThreads(blocks, 64, Options.Multicore != 0);
  // Runs of blocks go to the threads as they become free, so that a thread the
  // system holds back does not hold up the pass; the merged scans do not depend
  // on who took which run.
  std::mutex merging;
  ForEachChunk(blocks, ChunkBlocks, threads, [&](int64_t firstBlock, int64_t lastBlock) {
    std::array<TMinMaxScan, 4> part{};
    for (int64_t b = firstBlock; b < lastBlock; ++b) {
      const size_t first = size_t(b) * BlockPixels;
      const size_t count = std::min(BlockPixels, n - first);
      fn(first, count);
      for (int p = 1; p <= planes; ++p)
        ScanMinMax(std::span<float>(im.Planes[size_t(p)]).subspan(first, count), int32_t(count), 1,
                   int64_t(count), part[size_t(p)], Sse2Enabled);
    }
    std::lock_guard<std::mutex> lock(merging);
    for (int p = 1; p <= planes; ++p) scans[size_t(p)].Merge(part[size_t(p)]);
  });
  return scans;
}

}  // namespace astrelon
