#include "platform/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/parallel_bands.h"

namespace astrelon {
namespace {

std::atomic<int> poolStartsLeft{0};
std::thread RefuseAfter(std::function<void()> body) {
  if (poolStartsLeft.fetch_sub(1) <= 0)
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  return std::thread(std::move(body));
}

// Several jobs on one pool: every item once, worker numbers within the pool,
// the caller's hook called; refused starts leave fewer workers.
TEST(WorkerPool, EveryItemOnceOverManyJobsWhateverTheRefusals) {
  for (int allowed : {0, 2, 100}) {
    poolStartsLeft = allowed;
    BandThreadStarter = RefuseAfter;
    TWorkerPool pool(6);
    BandThreadStarter = nullptr;
    EXPECT_EQ(pool.Threads(), std::min(6, allowed + 1));
    for (int job = 0; job < 20; ++job) {
      std::vector<std::atomic<int>> seen(size_t(97 + job));
      int hooks = 0;
      pool.Run(
          int64_t(seen.size()),
          [&](int64_t i, int worker) {
            ASSERT_GE(worker, 0);
            ASSERT_LT(worker, pool.Threads());
            ++seen[size_t(i)];
          },
          [&] { ++hooks; });
      for (const auto& v : seen) ASSERT_EQ(v.load(), 1) << allowed << " " << job;
      EXPECT_GT(hooks, 0);
    }
  }
}

TEST(WorkerPool, AnExceptionStopsTheJobAndIsRethrown) {
  TWorkerPool pool(4);
  EXPECT_THROW(pool.Run(1000,
                        [&](int64_t i, int) {
                          if (i == 3) throw std::runtime_error("item");
                        }),
               std::runtime_error);
  // The pool takes the next job as before.
  std::atomic<int> n{0};
  pool.Run(50, [&](int64_t, int) { ++n; });
  EXPECT_EQ(n.load(), 50);
}

}  // namespace
}  // namespace astrelon
