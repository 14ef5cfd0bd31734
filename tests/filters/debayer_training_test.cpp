// A debayer network trained on a colour picture does what the network debayer
// applies: its results on the picture's mosaic come closer to the picture
// than those of a network that predicts nothing (every missing value its
// colour's window mean).
#include "filters/training/debayer_training.h"

#include <cmath>

#include "filter_images.h"
#include "filters/training/image_rms_difference.h"
#include "filters/training/training_loop.h"
#include "filters/training/training_options.h"
#include "kernels/mosaic/mosaic_kernels.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "kernels/network/network_phases.h"
#include "network_test_nets.h"
#include "pixelops/mosaic/debayer_nn.h"
#include "store/pictures/pnm_reader.h"

namespace astrelon::test {
namespace {

class DebayerTrainingTest : public NetworkKernelTest {
protected:
  void TearDown() override {
    TrainingOptions = {};
    TrainingControls = {};
    NetworkKernelTest::TearDown();
  }
  // The network debayer of the picture's RGGB mosaic into slot 3; the error of
  // red, green and blue inside the frame it computes.
  static std::array<double, 3> DebayerError() {
    const TImageSlot& c = Store.Image[1];
    MakeGrey(2, c.Width, c.Height, [&](int x, int y) { return c.At(MosaicCellColor(MosaicPattern, x, y) + 1, x, y); });
    MakeImage(3, c.Width, c.Height, 3, [&](int, int x, int y) { return Store.Image[2].At(1, x, y); });
    InterpolateMosaicBorder(3, 4);
    EXPECT_TRUE(DebayerNNLoaded(2, 3));
    return {ImageRmsDifference(3, 1, 5, 1), ImageRmsDifference(3, 1, 5, 2), ImageRmsDifference(3, 1, 5, 3)};
  }
};

TEST_F(DebayerTrainingTest, TrainedNetworkBeatsTheWindowMeans) {
  ASSERT_TRUE(LoadPnmFile(1, DataFile("libjpeg-turbo/testorig.ppm")));
  MosaicPattern = {McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1};
  MakeZeroNetwork(2, 20);
  const std::array<double, 3> means = DebayerError();

  BuildTanhTable();
  InitNetwork(20, 20, 36, 5);
  Network.TypeCode = 2;
  Network.Rate = 0.05;
  MakeResult(1, 4);
  TrainingControls.BaseSteps = TrainingControls.PhaseSteps = 50000;
  TDebayerTraining kind(1, 4, {});
  std::mt19937 rng(11);
  TTrainingView view;
  EXPECT_EQ(RunNetworkTraining(kind, view, rng, {}, {300000, false}), 300000);
  const std::array<double, 3> trained = DebayerError();
  for (size_t p = 0; p < 3; ++p) EXPECT_LT(trained[p], 0.8 * means[p]) << p << ": " << trained[p] << " " << means[p];
}

}  // namespace
}  // namespace astrelon::test
