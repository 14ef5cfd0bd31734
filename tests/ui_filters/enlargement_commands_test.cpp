// The enlargement commands without a network file in a main window: the
// triangulation and the edge-directed enlargement with their history texts,
// and the self-trained enlargement with its three input boxes, their limits,
// refused entries, a flat image, one seed giving one result, a smooth picture
// that keeps the network's bilinear base, and Esc.
#include "filters/ui/enlargement_commands.h"

#include <QAction>
#include <cmath>

#include "filter_dialog_fixture.h"
#include "filters/enlargement/autoscan_enlargement.h"
#include "kernels/network/network_weights.h"
#include "qt_test_app.h"

namespace astrelon::test {
namespace {

class EnlargementCommandsTest : public FilterDialogTest {
protected:
  void SetUp() override {
    FilterDialogTest::SetUp();
    savedSeed_ = AutoscanSeed;
    AutoscanSeed = [] { return uint64_t(3); };
    EngineUi().Messages.clear();
  }
  void TearDown() override {
    AutoscanSeed = savedSeed_;
    Network = TNetworkWeights{};
    FilterDialogTest::TearDown();
  }
  // Runs a command on the active slot 1 through an item with its caption.
  static void Run(const char* name, const char* caption) {
    QAction item(QString::fromUtf8(caption));
    item.setObjectName(name);
    ASSERT_TRUE(RunMenuCommand(name, &item));
    QApplication::processEvents();
  }
  void ExpectFinished() const {
    EXPECT_EQ(OperationRunning, 0);
    EXPECT_EQ(SlotPair.Source, -1);
    EXPECT_EQ(SlotPair.Destination, -1);
  }
  std::function<uint64_t()> savedSeed_;
};

TEST_F(EnlargementCommandsTest, TriangulationAndNediDoubleTheImage) {
  area_->setActiveSubWindow(Open(1, 21, 14));
  Run("Bildgrex2triangulation1", "Bildgröße x2 triangulation");
  ASSERT_NE(ImageWindow(2), nullptr);
  EXPECT_EQ(Store.Image[2].Width, 42);
  EXPECT_EQ(Store.Image[2].Height, 28);
  EXPECT_EQ(History(2), "Groesse x2 triangulation");
  EXPECT_EQ(MainLink().StatusTexts[2], "");
  ExpectFinished();

  area_->setActiveSubWindow(ImageWindow(1));
  Run("Bildgrex2spline1", "Bildgröße x2 Nedi");
  ASSERT_NE(ImageWindow(3), nullptr);
  EXPECT_EQ(Store.Image[3].Width, 42);
  EXPECT_EQ(History(3), "Groesse x2 Nedi");
  EXPECT_EQ(RecentFunctionCaption(0), "Bildgröße x2 Nedi");
  ExpectFinished();
}

TEST_F(EnlargementCommandsTest, AutoscanAsksClampsAndRepeats) {
  area_->setActiveSubWindow(Open(1, 24, 20));
  {
    PromptAnswers answers({QString("0"), QString("500"), QString("5")});
    Run("Bildgrex2NeuronalesNetzwerk1", "Bildgröße x2 NN autoscan");
    EXPECT_EQ(answers.Prompts(), (std::vector<QString>{QString::fromUtf8("Qualitätseingabe: (1-10)"),
                                                        QString::fromUtf8("Neuronenanzahl: (10-50)"),
                                                        QString::fromUtf8("Scan-Boxgröße: (10-300)")}));
  }
  ASSERT_NE(ImageWindow(2), nullptr);
  EXPECT_EQ(Store.Image[2].Width, 48);
  EXPECT_EQ(Store.Image[2].Height, 40);
  EXPECT_EQ(History(2), "Bildgroesse x2 NN autoscan");
  EXPECT_EQ(Network.Top, 100) << "500 neurons are lowered to 100";
  ExpectFinished();
  for (float v : Store.Image[2].Planes[1]) {
    ASSERT_GE(v, Store.Image[1].MinValue);
    ASSERT_LE(v, Store.Image[1].MaxValue);
  }
  // The same seed and entries give the same result.
  area_->setActiveSubWindow(ImageWindow(1));
  {
    PromptAnswers answers({QString("0"), QString("500"), QString("5")});
    Run("Bildgrex2NeuronalesNetzwerk1", "Bildgröße x2 NN autoscan");
  }
  ASSERT_NE(ImageWindow(3), nullptr);
  EXPECT_EQ(Store.Image[3].Planes[1], Store.Image[2].Planes[1]);
}

TEST_F(EnlargementCommandsTest, AutoscanRefusals) {
  area_->setActiveSubWindow(Open(1, 24, 20));
  {
    PromptAnswers answers({QString("2"), std::nullopt});
    Run("Bildgrex2NeuronalesNetzwerk1", "Bildgröße x2 NN autoscan");
  }
  EXPECT_FALSE(SlotInUse(2));
  EXPECT_TRUE(EngineUi().Messages.empty());
  {
    PromptAnswers answers({QString("2"), QString("zwanzig")});
    Run("Bildgrex2NeuronalesNetzwerk1", "Bildgröße x2 NN autoscan");
  }
  EXPECT_FALSE(SlotInUse(2));
  ASSERT_EQ(EngineUi().Messages.size(), 1u);
  EXPECT_EQ(EngineUi().Messages[0], "'zwanzig' ist kein gültiger Integerwert");
  // A flat image: a message before any slot is taken.
  std::fill(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end(), 5.0f);
  UpdateMinMax(1);
  EngineUi().Messages.clear();
  {
    PromptAnswers answers({QString("2"), QString("21"), QString("45")});
    Run("Bildgrex2NeuronalesNetzwerk1", "Bildgröße x2 NN autoscan");
  }
  EXPECT_FALSE(SlotInUse(2));
  EXPECT_EQ(EngineUi().Messages.size(), 1u);
}

// A smooth moon-like surface of 64 x 48 in 16-bit levels (the 2 x 2 means of
// one twice as large): a soft terminator, two soft craters, a little noise.
float Moon(int x, int y) {
  auto at = [](double X, double Y) {
    double relief = 0;
    for (const auto& [cx, cy, r] : {std::array{38.4, 38.4, 15.4}, std::array{64.0, 67.2, 10.2}}) {
      const double q = std::hypot(X - cx, Y - cy) / r;
      relief += -0.1 * std::exp(-std::pow(q / 0.75, 2)) + 0.05 * std::exp(-std::pow((q - 1) / 0.3, 2)) +
                0.08 * (X - cx) / r * std::exp(-std::pow(q / 0.9, 2));
    }
    const double albedo = 0.62 + 0.06 * std::sin(2 * 3.14159 * (0.7 * X / 128 + 0.5 * Y / 96));
    const uint32_t noise = (uint32_t(X) * 73856093u ^ uint32_t(Y) * 19349663u) % 25;
    return std::round(1500 + 21000 * (1 - std::tanh((X - 83.2) / 15.36)) * (albedo + relief) + double(noise));
  };
  return float((at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1)) / 4);
}

// Where the network loses on its training pairs to its bilinear base the
// command's result is that base (the untrained run's result), with the
// command's history card and the status naming what was kept.
TEST_F(EnlargementCommandsTest, AutoscanKeepsTheBaseOfASmoothPicture) {
  struct TStatusUi : TEngineUi {
    TStatusUi() { SetEngineUi(this); }
    ~TStatusUi() override { SetEngineUi(nullptr); }
    void ShowStatus(const std::string& text) override { Statuses.push_back(text); }
    std::vector<std::string> Statuses;
  } ui;
  std::vector<float> moon;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) moon.push_back(Moon(x, y));
  OpenActive(64, 48, {moon});
  {
    PromptAnswers answers({QString("2"), QString("21"), QString("45")});
    Run("Bildgrex2NeuronalesNetzwerk1", "Bildgröße x2 NN autoscan");
  }
  ASSERT_NE(ImageWindow(2), nullptr);
  EXPECT_EQ(History(2), "Bildgroesse x2 NN autoscan");
  ExpectFinished();
  EXPECT_EQ(ui.Statuses, std::vector<std::string>{AutoscanBaseKept});
  CopyImageSlot(1, 3);
  TAutoscanSettings untrained;
  untrained.Train = false;
  ASSERT_EQ(UpscaleX2Autoscan(1, 3, untrained, 3), TAutoscanEnd::Done);
  EXPECT_TRUE(Store.Image[2].Planes[1] == Store.Image[3].Planes[1]);
}

// Esc while it trains: "Abgebrochen!" and no result.
TEST_F(EnlargementCommandsTest, AutoscanStopsOnEsc) {
  area_->setActiveSubWindow(Open(1, 40, 40));
  QTimer esc;
  esc.setInterval(1);
  QObject::connect(&esc, &QTimer::timeout, [] {
    if (OperationRunning) AbortRequested = 1;
  });
  esc.start();
  {
    PromptAnswers answers({QString("10"), QString("50"), QString("45")});
    Run("Bildgrex2NeuronalesNetzwerk1", "Bildgröße x2 NN autoscan");
  }
  esc.stop();
  EXPECT_FALSE(SlotInUse(2));
  EXPECT_EQ(MainLink().StatusTexts[2], "Abgebrochen!");
  ExpectFinished();
}

}  // namespace
}  // namespace astrelon::test
