// The small image commands from the menu: logarithm, edge image, noise readout,
// the interference filter and the added-noise dialog with its preview and Ok.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QSlider>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "core/language.h"
#include "pixelops/pixels/synthetic_noise.h"
#include "pixelops/ui/operation_frame.h"
#include "pixelops/ui/pixels/image_tool_commands.h"
#include "pixelops/ui/pixels/synthetic_noise_dialog.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/display/display_histogram.h"

namespace astrelon::test {
namespace {

class ImageToolCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterImageToolCommands();
    EngineUi().Messages.clear();
    SyntheticNoise = {};
  }
  void OpenPlane(int slot, int w, int h, const std::vector<float>& plane) {
    Open(slot, w, h);
    Store.Image[size_t(slot)].Planes[1] = TPlane(plane.begin(), plane.end());
    UpdateMinMax(slot);
    ResetDisplayRange(slot, 0);
    ActivateImageWindow(slot);
  }
  static void Run(const char* name, const char* caption) {
    QAction item(QString::fromUtf8(caption));
    item.setObjectName(name);
    EXPECT_TRUE(RunMenuCommand(name, &item));
  }
  static bool HasCard(int slot, const std::string& text) {
    const auto cards = Store.Header[size_t(slot)].ActiveCards();
    return std::find(cards.begin(), cards.end(), PadCard(FoldToAscii(text))) != cards.end();
  }
  static int HistoryCount(int slot) {
    const auto cards = Store.Header[size_t(slot)].ActiveCards();
    return int(std::count_if(cards.begin(), cards.end(), [](const std::string& c) { return c.rfind("HISTORY", 0) == 0; }));
  }
};

TEST_F(ImageToolCommandsTest, LogarithmSobelAndNoiseReadout) {
  std::vector<float> v(20 * 10);
  for (size_t i = 0; i < v.size(); ++i) v[i] = float(i % 20);
  v[0] = 0;
  v[1] = 9;
  v.back() = 99;
  OpenPlane(1, 20, 10, v);
  Run("Logarithmieren1", "&Logarithmieren");
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_FLOAT_EQ(Store.Image[2].At(1, 1, 0), 49.5f);
  EXPECT_FLOAT_EQ(Store.Image[2].At(1, 19, 9), 99.0f);
  EXPECT_TRUE(HasCard(2, "HISTORY Logarithmieren"));
  EXPECT_EQ(SlotPair.Source, -1);

  ActivateImageWindow(1);
  const int cards = HistoryCount(1);
  Run("SobelFunktionRanderkennung1", "S&obel-Funktion (Randerkennung)");
  ASSERT_TRUE(Store.HasWindow[3]);
  EXPECT_EQ(Store.Image[3].At(1, 5, 5), 8.0f);
  EXPECT_EQ(Store.Image[3].At(1, 0, 5), 0.0f);
  EXPECT_EQ(HistoryCount(3), cards);
  EXPECT_EQ(RecentFunctionCaption(0), "Sobel-Funktion (Randerkennung)");

  ActivateImageWindow(1);
  Run("Rauschanteilbestimmen1", "Rauschanteil bestimmen");
  ASSERT_EQ(EngineUi().Messages.size(), 1u);
  EXPECT_EQ(EngineUi().Messages[0].rfind("Rauschanteil: ", 0), 0u);
  EXPECT_EQ(CountOpenWindows(), 3);
}

TEST_F(ImageToolCommandsTest, InterferenceFilterKeepsTheDisplayRecord) {
  const int n = 64;
  std::vector<float> v(size_t(n * n));
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) v[size_t(y * n + x)] = float(1000 + 50 * std::sin(2 * std::numbers::pi * x / 8));
  OpenPlane(1, n, n, v);
  Store.Display[1].Gamma = 1.7f;
  Store.Display[1].DisplayType = 8;
  Run("Automatischer2DFFTStrfilter1", "Automatischer 2D-FFT Störfilter");
  // The spectrum took the next slot while the result was made.
  EXPECT_EQ(CountOpenWindows(), 2);
  ASSERT_TRUE(Store.HasWindow[3]);
  EXPECT_EQ(Store.Display[3].Gamma, 1.7f);
  EXPECT_EQ(Store.Display[3].DisplayType, 8);
  EXPECT_TRUE(HasCard(3, "HISTORY Automatischer 2D-FFT Störfilter"));
  EXPECT_EQ(SlotPair.Source, -1);
}

TEST_F(ImageToolCommandsTest, NoiseDialogPreviewOkAndClose) {
  OpenPlane(1, 64, 48, std::vector<float>(64 * 48, 500.0f));
  Run("objectRauschenhinzufgen11TMenuItem1", "&Rauschen hinzufügen");
  TForm28* dialog = SyntheticNoiseDialog();
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_EQ(SlotPair.Destination, 2);
  dialog->TrackBar2->setValue(100);
  EXPECT_EQ(dialog->Edit1->text(), "0.00");
  dialog->TrackBar2->setValue(91);
  EXPECT_EQ(dialog->Edit1->text(), "9.00");
  dialog->Timer1Timer();
  const std::vector<float> preview(Store.Image[2].Planes[1].begin(), Store.Image[2].Planes[1].end());
  EXPECT_NE(preview, std::vector<float>(64 * 48, 500.0f));
  // Text that is no number computes nothing: the last preview stays.
  dialog->Edit1->setText("abc");
  dialog->Timer1Timer();
  EXPECT_EQ(std::vector<float>(Store.Image[2].Planes[1].begin(), Store.Image[2].Planes[1].end()), preview);
  dialog->Edit1->setText("9.00");
  dialog->Timer1Timer();
  dialog->OkClick();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_TRUE(Store.InUse[2]);
  EXPECT_TRUE(HasCard(2, "HISTORY  Rauschen hinzufügen Stärke (rms) 9.00"));
  EXPECT_EQ(OperationRunning, 0);
  EXPECT_EQ(SlotPair.Source, -1);

  // Closing without Ok removes the result; the next start shows the last amount.
  ActivateImageWindow(1);
  Run("objectRauschenhinzufgen11TMenuItem1", "&Rauschen hinzufügen");
  const int result = SlotPair.Destination;
  ASSERT_GE(result, 3);
  EXPECT_EQ(dialog->Edit1->text(), "9");
  dialog->close();
  QApplication::processEvents();
  EXPECT_FALSE(Store.InUse[size_t(result)]);
  EXPECT_EQ(OperationRunning, 0);
}

}  // namespace
}  // namespace astrelon::test
