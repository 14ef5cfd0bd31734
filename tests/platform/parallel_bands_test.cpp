#include "platform/parallel_bands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <system_error>
#include <vector>

#include "core/settings.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

// Refuses every worker start from the n-th on (1 = the first), like a process
// at its thread limit.
std::atomic<int> startsLeft{0};
std::thread RefusingStarter(std::function<void()> body) {
  if (startsLeft.fetch_sub(1) <= 0)
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  return std::thread(std::move(body));
}

class RefusedStarts {
public:
  explicit RefusedStarts(int allowed) {
    startsLeft = allowed;
    BandThreadStarter = RefusingStarter;
  }
  ~RefusedStarts() { BandThreadStarter = nullptr; }
};

TEST(ParallelBands, RefusedStartsRunTheirBandsOnTheCallingThread) {
  for (int allowed : {0, 1, 3}) {
    RefusedStarts refuse(allowed);
    std::vector<int> seen(1000, 0);
    ForEachBand(int64_t(seen.size()), 6, [&](int64_t first, int64_t last) {
      for (int64_t i = first; i < last; ++i) ++seen[size_t(i)];
    });
    for (int v : seen) ASSERT_EQ(v, 1) << "allowed starts " << allowed;
  }
}

TEST(ParallelBands, BandErrorsStillReachTheCallerWhenStartsAreRefused) {
  RefusedStarts refuse(1);
  EXPECT_THROW(ForEachBand(100, 4,
                           [](int64_t first, int64_t) {
                             if (first >= 50) throw std::runtime_error("band");
                           }),
               std::runtime_error);
}

class BandsStoreTest : public test::StoreTest {};

TEST_F(BandsStoreTest, MinMaxOfALargeSlotIsTheSameWhenThreadsAreRefused) {
  const bool multicore = Options.Multicore;
  Options.Multicore = 1;
  std::vector<float> pixels(2000 * 2000);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = float(i % 7919) - 3.0f;
  pixels[1999 * 2000 + 5] = 1e6f;
  test::MakeImage(1, 2000, 2000, {pixels});
  const TImageSlot& im = Store.Image[1];
  UpdateMinMax(1);
  const float wantMin = im.MinValue, wantMax = im.MaxValue;
  {
    RefusedStarts refuse(1);
    Store.Image[1].MinValue = Store.Image[1].MaxValue = 0;
    UpdateMinMax(1);
  }
  EXPECT_EQ(im.MinValue, wantMin);
  EXPECT_EQ(im.MaxValue, wantMax);
  EXPECT_EQ(wantMax, 1e6f);
  Options.Multicore = multicore;
}

}  // namespace
}  // namespace astrelon
