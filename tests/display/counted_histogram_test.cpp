// Histograms counted by a reader while it wrote the planes stand in for counting
// them only when the display range gives the axis they were counted on.
#include "core/settings.h"
#include "display_test_images.h"
#include "store/display/display_histogram.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class CountedHistogramTest : public StoreTest {};

TEST_F(CountedHistogramTest, CountsAreTakenOnlyOnTheirOwnAxis) {
  // Display range 0..255 as after loading an 8-bit picture.
  MakeGreySlot(1, 4, 2, {0, 51, 51, 102, 255, 255, 255, 7}, 0.0f, 255.0f);
  ComputeHistogram(1, false, false);
  const auto counted = Store.Display[1].Histogram;
  EXPECT_EQ(counted[0][1 + 100], 2u);  // 51 lands in bin 100

  // Counts marked so that taking them shows.
  THistogramCounts marked{};
  marked[0] = counted[0];
  marked[0][1 + 7] = 99;
  ComputeHistogramCounted(1, LoadHistogramAxis(255.0f), marked);
  EXPECT_EQ(Store.Display[1].Histogram[0][1 + 7], 99u);
  EXPECT_EQ(Store.Display[1].HistogramPeak, 99);

  // Counted on another axis: the planes are counted instead.
  ComputeHistogramCounted(1, LoadHistogramAxis(65535.0f), marked);
  EXPECT_EQ(Store.Display[1].Histogram, counted);
}

}  // namespace
}  // namespace astrelon::test
