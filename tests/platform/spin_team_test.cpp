#include "platform/spin_team.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/parallel_bands.h"

namespace astrelon {
namespace {

// Starts refused after `teamStartsLeft`; the started threads begin late.
std::atomic<int> teamStartsLeft{0};
std::thread RefuseOrStartLate(std::function<void()> body) {
  if (teamStartsLeft.fetch_sub(1) <= 0)
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  return std::thread([body = std::move(body)] {
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    body();
  });
}

// Many short jobs one after the other, workers refused or starting while the
// jobs run: every item exactly once; a team ended at once stops its late workers.
TEST(SpinTeam, EveryItemOnceOverManyJobsWhateverTheStarts) {
  for (int allowed : {0, 2, 100}) {
    teamStartsLeft = allowed;
    BandThreadStarter = RefuseOrStartLate;
    TSpinTeam team(6);
    EXPECT_EQ(team.Threads(), std::min(6, allowed + 1));
    for (int job = 0; job < 400; ++job) {
      std::vector<std::atomic<int>> seen(size_t(1 + job % 37));
      team.Run(int64_t(seen.size()), [&](int64_t i) { ++seen[size_t(i)]; });
      for (const auto& v : seen) ASSERT_EQ(v.load(), 1) << allowed << " " << job;
    }
    { TSpinTeam idle(4); }
    BandThreadStarter = nullptr;
  }
}

TEST(SpinTeam, AnExceptionIsRethrownAndTheNextJobRuns) {
  TSpinTeam team(4);
  EXPECT_THROW(team.Run(1000,
                        [&](int64_t i) {
                          if (i == 3) throw std::runtime_error("item");
                        }),
               std::runtime_error);
  std::atomic<int> n{0};
  team.Run(50, [&](int64_t) { ++n; });
  EXPECT_EQ(n.load(), 50);
}

}  // namespace
}  // namespace astrelon
