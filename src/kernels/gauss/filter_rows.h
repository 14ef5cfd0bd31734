#pragma once
// Row loops of the filter kernels: the rows are taken in chunks of about a
// million pixels per thread; each chunk is split into bands over the processors
// (one with "Multicores" off) and the poll runs between chunks in the calling
// thread.
// Every row is computed the same way whatever the split.
#include <algorithm>
#include <cstdint>

#include "core/settings.h"
#include "kernels/gauss/filter_poll.h"
#include "platform/parallel_bands.h"

namespace astrelon {

constexpr int64_t FilterChunkPixels = int64_t(1) << 20;
constexpr int64_t FilterMinBandPixels = int64_t(1) << 16;

// Threads for a chunk of `pixels`.
inline int FilterThreads(int64_t pixels) {
  return BandThreads(pixels, FilterMinBandPixels, Options.Multicore != 0);
}

// Calls fn(first, last) for bands of the items (rows, columns or groups of
// lines) [begin, end), `itemPixels` pixels each, in chunks of about a million
// pixels, and done(last item of the chunk) after every chunk in the calling
// thread. False when done returned false (the loop then stops).
template <typename F, typename D>
bool ForEachChunk(int64_t begin, int64_t end, int64_t itemPixels, F&& fn, D&& done) {
  // About a million pixels per thread and chunk: starting the threads of a
  // chunk then costs little beside its work.
  const int64_t pixels = std::max<int64_t>(itemPixels, 1);
  const int64_t perChunk = FilterChunkPixels * FilterThreads((end - begin) * pixels);
  const int64_t chunk = std::max<int64_t>(1, perChunk / pixels);
  for (int64_t first = begin; first < end; first += chunk) {
    const int64_t last = std::min(end, first + chunk);
    const int threads = FilterThreads((last - first) * itemPixels);
    ForEachBand(last - first, threads, [&](int64_t a, int64_t b) { fn(first + a, first + b); });
    if (!done(last - 1)) return false;
  }
  return true;
}

// Calls fn(first, last) for bands of the rows [begin, end), `rowPixels` pixels
// each, and poll->Continue(plane, last row of the chunk) after every chunk.
// False when the poll stopped the loop.
template <typename F>
bool ForEachRowChunk(int64_t begin, int64_t end, int64_t rowPixels, TFilterPoll* poll, int plane, F&& fn) {
  return ForEachChunk(begin, end, rowPixels, fn, [&](int64_t last) { return !poll || poll->Continue(plane, int(last)); });
}

}  // namespace astrelon
