#include "platform/parallel_chunks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace astrelon {
namespace {

std::atomic<int> chunkStartsLeft{0};
std::thread RefuseAfter(std::function<void()> body) {
  if (chunkStartsLeft.fetch_sub(1) <= 0)
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  return std::thread(std::move(body));
}

TEST(ParallelChunks, EveryIndexOnceWhateverTheThreadsAndRefusals) {
  for (int allowed : {0, 2, 100}) {
    chunkStartsLeft = allowed;
    BandThreadStarter = RefuseAfter;
    for (int threads : {1, 3, 8}) {
      std::vector<int> seen(1001, 0);
      ForEachChunk(int64_t(seen.size()), 16, threads, [&](int64_t first, int64_t last) {
        EXPECT_LE(last - first, 16);
        for (int64_t i = first; i < last; ++i) ++seen[size_t(i)];
      });
      for (int v : seen) ASSERT_EQ(v, 1) << allowed << " " << threads;
    }
    BandThreadStarter = nullptr;
  }
  EXPECT_THROW(ForEachChunk(100, 10, 4,
                            [](int64_t first, int64_t) {
                              if (first == 50) throw std::runtime_error("chunk");
                            }),
               std::runtime_error);
}

TEST(ParallelChunks, PollRunsInTheCallingThreadAndStopsFurtherChunks) {
  for (int threads : {1, 4}) {
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> done{0};
    int polls = 0;
    const bool finished = ForEachChunkPolled(
        1000, 1, threads,
        [&](int64_t, int64_t) {
          // Long enough that the calling thread takes chunks of its own.
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          ++done;
        },
        [&] {
          EXPECT_EQ(std::this_thread::get_id(), caller);
          return ++polls < 3;
        });
    EXPECT_FALSE(finished) << threads;
    EXPECT_EQ(polls, 3);
    // The chunks running when the poll said stop end; no others start.
    EXPECT_GE(done, 3);
    EXPECT_LT(done, 1000) << threads;
    EXPECT_TRUE(ForEachChunkPolled(
        10, 3, threads, [](int64_t, int64_t) {}, [] { return true; }));
  }
}

}  // namespace
}  // namespace astrelon
