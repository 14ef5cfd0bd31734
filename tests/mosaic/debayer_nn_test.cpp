// The network debayer: with a network whose weights and biases are all 0 every
// processed site gets its colours' window means; the frame keeps the border
// pass; a file that cannot be read and the abort flag leave the rest as it was.
#include <cmath>
#include <cstring>
#include <random>

#include "../pixelops/slot_images.h"
#include "common/engine_ui.h"
#include "kernels/mosaic/mosaic_kernels.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "kernels/network/network_weights.h"
#include "network_file_bytes.h"
#include "pixelops/mosaic/debayer_nn.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "platform/processor_features.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr int W = 17, H = 15;

class DebayerNNTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    MosaicPattern = {McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1};
    std::mt19937 rng(7);
    mosaic_.resize(size_t(W * H));
    for (float& v : mosaic_) v = float(rng() % 4000);
    PutImage(1, W, H, {mosaic_});
    PutImage(3, W, H, {mosaic_, mosaic_, mosaic_});
    InterpolateMosaicBorder(3, 4);
    border_ = {Plane(3, 1), Plane(3, 2), Plane(3, 3)};
    EngineUi().Messages.clear();
    AbortRequested = 0;
  }
  void TearDown() override {
    AbortRequested = 0;
    StoreTest::TearDown();
  }
  std::string ZeroNetwork(int32_t type) {
    TNetworkFileBytes f;
    f.Put(type).Put(9).Body(9).Biases(9);
    WriteAll(path_, f.Bytes);
    return path_;
  }
  // Mean of the mosaic over the used 7 x 7 window positions of `colour` around (x, y).
  float WindowMean(int x, int y, int colour) const {
    static constexpr const char* used[7] = {".x.x.x.", "xxxxxxx", ".xxxxx.", "xxxxxxx",
                                            ".xxxxx.", "xxxxxxx", ".x.x.x."};
    double sum = 0;
    int n = 0;
    for (int dy = -3; dy <= 3; ++dy)
      for (int dx = -3; dx <= 3; ++dx)
        if (used[dy + 3][dx + 3] == 'x' && MosaicCellColor(MosaicPattern, x + dx, y + dy) == colour) {
          sum += mosaic_[size_t((y + dy) * W + x + dx)];
          ++n;
        }
    return float(sum / n);
  }
  bool InFrame(int x, int y) const { return y < 2 || y >= H - 2 || x < 3 || x >= W - 2; }
  TempDir dir_;
  std::string path_ = dir_.file("zero.nnb");
  std::vector<float> mosaic_;
  std::vector<std::vector<float>> border_;
};

TEST_F(DebayerNNTest, ZeroNetworkGivesWindowMeans) {
  ASSERT_TRUE(DebayerNN(1, 3, ZeroNetwork(1)));
  EXPECT_FALSE(NetworkDebayerMode);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const size_t i = size_t(y * W + x);
      const int colour = MosaicCellColor(MosaicPattern, x, y);
      if (InFrame(x, y)) {
        for (int p = 0; p < 3; ++p) ASSERT_EQ(Plane(3, p + 1)[i], border_[size_t(p)][i]) << x << "," << y;
      } else if (colour != McGreen && y >= 3 && y <= H - 4 && x <= W - 4) {
        EXPECT_FLOAT_EQ(Plane(3, 2)[i], WindowMean(x, y, McGreen)) << x << "," << y;
        EXPECT_FLOAT_EQ(Plane(3, colour == McRed ? 3 : 1)[i], WindowMean(x, y, 2 - colour)) << x << "," << y;
      }
    }
}

TEST_F(DebayerNNTest, OtherTypesWriteTheSiteAndItsNeighbours) {
  ASSERT_TRUE(DebayerNN(1, 3, ZeroNetwork(2)));
  // The red site (4, 4): green from the green mean, red at its right, below and
  // below right from the red mean.
  const float red = WindowMean(4, 4, McRed);
  EXPECT_FLOAT_EQ(Plane(3, 2)[4 * W + 4], WindowMean(4, 4, McGreen));
  for (const int i : {4 * W + 5, 5 * W + 4, 5 * W + 5}) EXPECT_FLOAT_EQ(Plane(3, 1)[size_t(i)], red);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      if (!InFrame(x, y)) continue;
      for (int p = 0; p < 3; ++p) ASSERT_EQ(Plane(3, p + 1)[size_t(y * W + x)], border_[size_t(p)][size_t(y * W + x)]);
    }
}

TEST_F(DebayerNNTest, UnreadableFileAndAbortLeaveTheBorderPass) {
  EXPECT_FALSE(DebayerNN(1, 3, dir_.file("missing.nnb")));
  ASSERT_EQ(EngineUi().Messages.size(), 1u);
  EXPECT_EQ(EngineUi().Messages[0], dir_.file("missing.nnb") + "\nkonnte nicht geöffnet werden!");
  for (int p = 0; p < 3; ++p) EXPECT_EQ(Plane(3, p + 1), border_[size_t(p)]);
  // A constant mosaic: nothing to scale by, the border pass stays.
  PutImage(1, W, H, {std::vector<float>(size_t(W * H), 5.0f)});
  EXPECT_FALSE(DebayerNN(1, 3, ZeroNetwork(1)));
  for (int p = 0; p < 3; ++p) EXPECT_EQ(Plane(3, p + 1), border_[size_t(p)]);
  // Esc during the first row: only row 3 (and the greens above it in row 2) change.
  PutImage(1, W, H, {mosaic_});
  struct TEscUi : TEngineUi {
    void ProcessMessages() override { AbortRequested = 1; }
    void ShowStatus(const std::string& text) override { Status.push_back(text); }
    std::vector<std::string> Status;
  } ui;
  SetEngineUi(&ui);
  EXPECT_TRUE(DebayerNN(1, 3, ZeroNetwork(1)));
  SetEngineUi(nullptr);
  for (int p = 0; p < 3; ++p) {
    const std::vector<float> now = Plane(3, p + 1);
    EXPECT_TRUE(std::equal(now.begin() + 4 * W, now.end(), border_[size_t(p)].begin() + 4 * W)) << p;
  }
  EXPECT_NE(Plane(3, 2)[3 * W + 3], border_[1][3 * W + 3]);
  ASSERT_EQ(ui.Status.size(), 2u);
  EXPECT_EQ(ui.Status[0], " NN debayer 11%");
  EXPECT_EQ(ui.Status[1], "");
}

TEST_F(DebayerNNTest, ConversionRunsTheNetworkMethod) {
  MosaicSettings = TMosaicSettings{};
  MosaicSettings.CameraProfile = false;
  MosaicSettings.Method = DmNetwork;
  MosaicSettings.NetworkFile = ZeroNetwork(1);
  const int r = GenerateRgbFromMosaic(1);
  ASSERT_GT(r, 1);
  // A red site inside: green from the window's green mean.
  EXPECT_FLOAT_EQ(Plane(r, 2)[size_t(4 * W + 4)], WindowMean(4, 4, McGreen));
  MosaicSettings = TMosaicSettings{};
}

// Without a usable network the conversion makes no result: no network named
// (the button is off, a batch still says so), or one that cannot be read.
TEST_F(DebayerNNTest, ConversionWithoutItsNetworkMakesNoResult) {
  MosaicSettings = TMosaicSettings{};
  MosaicSettings.CameraProfile = false;
  MosaicSettings.Method = DmNetwork;
  const struct {
    std::string file, message;
  } cases[] = {{" ", "Es ist kein Debayer-NN gewählt!"},
               {dir_.file("missing.nnb"), dir_.file("missing.nnb") + "\nkonnte nicht geöffnet werden!"}};
  for (const auto& c : cases) {
    MosaicSettings.NetworkFile = c.file;
    EXPECT_EQ(MosaicGenerateEnabled(MosaicSettings), c.file != " ");
    EngineUi().Messages.clear();
    EXPECT_LT(GenerateRgbFromMosaic(1), 1);
    EXPECT_FALSE(SlotInUse(2));
    EXPECT_FALSE(SlotInUse(4));
    ASSERT_EQ(EngineUi().Messages.size(), 1u);
    EXPECT_EQ(EngineUi().Messages[0], c.message);
  }
  MosaicSettings.NetworkFile = ZeroNetwork(1);
  EXPECT_TRUE(MosaicGenerateEnabled(MosaicSettings));
  MosaicSettings = TMosaicSettings{};
}

// A random network of each kind gives the planes it gave before the forward
// pass took a record of its own (a hash of the three planes' bytes), on the
// plain, SSE and AVX2 paths.
TEST_F(DebayerNNTest, RandomNetworksGiveTheirKnownPlanes) {
  const bool sse = SseEnabled, avx2 = Avx2Enabled;
  struct TCase {
    int32_t type;
    bool tables;
    uint64_t hash;
  };
  const TCase cases[] = {{1, false, 17015269447391564377ull},
                          {2, false, 17637840635370729288ull},
                          {2, true, 16429994317720420108ull}};
  for (const TCase& c : cases) {
    std::mt19937 rng(uint32_t(11 + c.type + (c.tables ? 5 : 0)));
    std::uniform_real_distribution<float> u(-0.6f, 0.6f);
    TNetworkFileBytes f;
    f.Put(c.type).Put(int32_t(12));
    for (int i = 0; i < 13 * (37 + 21) + 21 * 4; ++i) f.Put(u(rng));
    f.Put(0.01).Put(int32_t(12));
    for (int i = 0; i < 13 + 21 + 4; ++i) f.Put(u(rng) * 0.2f);
    if (c.tables)
      for (int t = 0; t < 21 + 13; ++t)
        for (int i = 0; i < 4001; ++i) f.Put(std::tanh(float(i - 2000) / 1000 * (1.0f + 0.01f * float(t))));
    WriteAll(path_, f.Bytes);
    for (const int path : {0, 1, 2}) {
      SseEnabled = path > 0;
      Avx2Enabled = path > 1;
      PutImage(3, W, H, {mosaic_, mosaic_, mosaic_});
      InterpolateMosaicBorder(3, 4);
      ASSERT_TRUE(DebayerNN(1, 3, path_));
      uint64_t h = 1469598103934665603ull;
      for (int p = 1; p <= 3; ++p)
        for (const float v : Plane(3, p)) {
          uint32_t b;
          std::memcpy(&b, &v, 4);
          for (int k = 0; k < 4; ++k) h = (h ^ ((b >> (8 * k)) & 0xff)) * 1099511628211ull;
        }
      EXPECT_EQ(h, c.hash) << c.type << " " << c.tables << " path " << path;
    }
  }
  SseEnabled = sse;
  Avx2Enabled = avx2;
}

}  // namespace
}  // namespace astrelon::test
