#include "filters/network/network_rows.h"

#include <atomic>
#include <memory>

#include "core/settings.h"
#include "platform/parallel_bands.h"

namespace astrelon {

int NetworkRowThreads(int64_t rows, int64_t columns) {
  // A thread pays off from a few rows of a few hundred evaluations.
  return BandThreads(rows * columns, 4096, Options.Multicore != 0);
}

bool RunNetworkRows(int64_t count, int threads, const std::function<void(int64_t r, TNetworkPass& pass)>& row,
                    const std::function<bool(int64_t rowsDone)>& poll) {
  std::atomic<int64_t> next{0}, done{0};
  std::atomic<bool> stopped{false};
  ForEachBand(threads, threads, [&](int64_t first, int64_t) {
    const bool caller = first == 0;  // the calling thread takes the first band
    const auto pass = std::make_unique<TNetworkPass>();
    while (!stopped.load(std::memory_order_relaxed)) {
      const int64_t r = next.fetch_add(1);
      if (r >= count) break;
      row(r, *pass);
      const int64_t finished = done.fetch_add(1) + 1;
      if (caller && poll && !poll(finished)) stopped = true;
    }
  });
  return done.load() == count;
}

}  // namespace astrelon
