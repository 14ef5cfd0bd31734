// The two-times enlargements ask for their memory before the first plane: with
// less free memory than the result and its working planes need they throw
// std::bad_alloc ("Nicht genug Speicher") and leave the source and the
// destination as they were; small images still fit.
#include <functional>
#include <new>

#include <gtest/gtest.h>

#include "../filters/filter_images.h"
#include "../filters/network_test_nets.h"
#include "kernels/network/network_file_writers.h"
#include "filters/enlargement/autoscan_enlargement.h"
#include "filters/enlargement/upscale_x2_hif.h"
#include "filters/enlargement/upscale_x2_nedi.h"
#include "filters/enlargement/upscale_x2_triangulation.h"
#include "filters/network/upscale_x2_network.h"
#include "platform/memory_probe.h"

namespace astrelon::test {
namespace {

class EnlargementMemoryTest : public KernelTest {
protected:
  void TearDown() override {
    AvailableMemoryOverride = nullptr;
    KernelTest::TearDown();
  }
  TempDir dir_;
};

TEST_F(EnlargementMemoryTest, EnlargementsThatDoNotFitAreRefusedBeforeTheyStart) {
  MakeZeroNetwork(3, 12, {}, 21);
  const std::string net = dir_.file("net.nnw");
  ASSERT_TRUE(WriteTwoTimesNetworkFile(net, Network));
  struct Case {
    const char* what;
    std::function<bool()> enlarge;
  };
  const Case cases[] = {
      {"triangulation", [] { return UpscaleX2Triangulation(1, 2); }},
      {"Nedi", [] { return UpscaleX2Nedi(1, 2); }},
      {"hi-f tri", [] { return UpscaleX2HiF(1, 2, true, THiFVariant::Tri, 3); }},
      {"hi-f sinc", [] { return UpscaleX2HiF(1, 2, true, THiFVariant::Sinc, 3); }},
      {"network", [&] { return UpscaleX2Network(1, 2, net); }},
      {"autoscan", [] { return UpscaleX2Autoscan(1, 2, {1, 10, 10}, 1) == TAutoscanEnd::Done; }},
  };
  // 1 MB free: the grey 300 x 300 result alone needs 1.44 MB, the colour 200 x 150 one 1.44 MB; a
  // colour 40 x 30 one with its working planes far less.
  AvailableMemoryOverride = [] { return uint64_t(1) << 20; };
  for (const Case& c : cases)
    for (const auto& [w, h, planes, fits] : {std::tuple{300, 300, 1, false}, {200, 150, 3, false}, {40, 30, 3, true}}) {
      SCOPED_TRACE(std::string(c.what) + " " + std::to_string(w) + " x " + std::to_string(h));
      MakeImage(1, w, h, planes, [](int p, int x, int y) { return float(100 * p + (x * 7 + y * 13) % 50); });
      MakeResult(1, 2);
      const std::vector<float> source = PlaneValues(1, planes), destination = PlaneValues(2, planes);
      bool refused = false;
      try {
        c.enlarge();
      } catch (const std::bad_alloc&) {
        refused = true;
      }
      EXPECT_EQ(refused, !fits);
      EXPECT_EQ(PlaneValues(1, planes), source);
      if (refused) {
        EXPECT_EQ(Store.Image[2].Width, w);
        EXPECT_EQ(PlaneValues(2, planes), destination);
      } else {
        EXPECT_EQ(Store.Image[2].Width, 2 * w);
      }
    }
}

}  // namespace
}  // namespace astrelon::test
