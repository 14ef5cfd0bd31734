// The dialog "Wavelet Rauschfilter" on image windows: slider texts, filtering
// on "&Berechnen", quick gain changes, the buttons, ".wvl" files, following the
// source's colour model and closing while it computes.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <functional>
#include <random>

#include <gtest/gtest.h>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "filters/ui/radio_group.h"
#include "frequency/ui/wavelet_dialog.h"
#include "frequency/wavelet/wavelet_pyramid.h"
#include "pixelops/ui/tool_launch_commands.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"

namespace astrelon {
namespace {

class WaveletDialogTest : public test::WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterToolLaunchCommands();
    RegisterWaveletCommands();
  }
  void TearDown() override {
    if (TForm23* d = WaveletDialog()) d->close();
    QApplication::processEvents();
    SetEngineUi(nullptr);
    AbortRequested = 0;
    WindowTest::TearDown();
  }
  // A noisy w x h image (three planes with `colour`) in slot 1, active, and the dialog over its copy.
  TForm23* Start(int w = 48, int h = 40, bool colour = false) {
    Open(1, w, h);
    TImageSlot& im = Store.Image[1];
    im.PlaneCount = colour ? 3 : 1;
    im.IsColor = colour;
    im.ColorModel = CmRgb;
    im.AllocatePlanes(im.PlaneCount);
    std::mt19937 rng(4);
    std::normal_distribution<float> noise(0, 10);
    for (int p = 1; p <= im.PlaneCount; ++p)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) im.At(p, x, y) = 100.0f + 30.0f * float(p) + 2.0f * float(x) + noise(rng);
    UpdateMinMax(1);
    area_->setActiveSubWindow(ImageWindow(1));
    QApplication::processEvents();
    QAction item("Wavelet Rauschfilter");
    item.setObjectName("WaveletFilter1");
    EXPECT_TRUE(RunMenuCommand("WaveletFilter1", &item));
    QApplication::processEvents();
    TForm23* d = WaveletDialog();
    EXPECT_TRUE(d && d->isVisible());
    return d;
  }
  static std::vector<float> Result() { return test::PlaneValues(2, 1); }
  test::HookUi ui_;
};

TEST_F(WaveletDialogTest, SlidersWriteTheirSquaredPositions) {
  TForm23* d = Start();
  ASSERT_NE(d, nullptr);
  struct Case {
    int slider, position;
    const char* text;
  };
  for (const Case c : {Case{0, 24, "2.25"}, Case{0, 0, "0.00"}, Case{0, 16, "1.00"}, Case{5, 32, "4.00"},
                       Case{8, 50, "4.00"}, Case{8, 25, "1.00"}, Case{8, 2, "0.01"}}) {
    d->TrackBars[size_t(c.slider)]->setValue(c.position);
    EXPECT_EQ(d->Edits[size_t(c.slider)]->text(), c.text) << c.slider << " " << c.position;
  }
  EXPECT_TRUE(MenuCommandAvailable("WaveletFilter1"));
}

TEST_F(WaveletDialogTest, GainsRebuildWithoutFilteringThresholdsAskForBerechnen) {
  TForm23* d = Start();
  ASSERT_NE(d, nullptr);
  const std::vector<float> source = test::PlaneValues(1, 1);
  d->Button3->click();
  EXPECT_FALSE(d->Button3->isEnabled());
  EXPECT_TRUE(d->Button1->isEnabled());
  const std::vector<float> filtered = Result();
  EXPECT_NE(filtered, source);
  const std::vector<float> level0 = PyramidSets[0].Levels[1][0].Data;

  // A gain: the result changes 200 ms after the last move, from the same filtered pyramid.
  d->TrackBars[4]->setValue(24);
  EXPECT_EQ(Result(), filtered);
  EXPECT_TRUE(d->Timer1->isActive());
  QTest::qWait(300);
  const std::vector<float> stronger = Result();
  EXPECT_NE(stronger, filtered);
  EXPECT_EQ(PyramidSets[0].Levels[1][0].Data, level0);
  EXPECT_FALSE(d->Button3->isEnabled());

  // A threshold only enables "&Berechnen"; gains then wait for it.
  d->TrackBars[0]->setValue(30);
  EXPECT_TRUE(d->Button3->isEnabled());
  d->TrackBars[5]->setValue(20);
  QTest::qWait(300);
  EXPECT_EQ(Result(), stronger);

  // A selection drawn on the result after a computation enables it too.
  d->Button3->click();
  ASSERT_FALSE(d->Button3->isEnabled());
  Drag(ImageWindow(2), {5, 5}, {30, 25});
  EXPECT_TRUE(d->Button3->isEnabled());
}

TEST_F(WaveletDialogTest, OkKeepsTheResultWithOneCardAbbrechenClosesIt) {
  TForm23* d = Start();
  ASSERT_NE(d, nullptr);
  d->Button3->click();
  const size_t cards = Store.Header[2].ActiveCards().size();
  d->Button1->click();
  EXPECT_FALSE(d->isVisible());
  ASSERT_TRUE(SlotInUse(2));
  EXPECT_EQ(Store.Header[2].ActiveCards().size(), cards + 1);
  EXPECT_EQ(test::HistoryText(2).substr(test::HistoryText(2).rfind('|') + 1), "Wavelet Rauschfilter");
  EXPECT_TRUE(PyramidSets[0].Levels[1][0].Data.empty());  // freed on hiding

  area_->closeAllSubWindows();
  QApplication::processEvents();
  d = Start();
  ASSERT_NE(d, nullptr);
  const int result = SlotPair.Destination;
  d->Button3->click();
  d->Button2->click();
  QApplication::processEvents();
  EXPECT_FALSE(SlotInUse(result));
  EXPECT_EQ(SlotPair.Source, -1);
}

TEST_F(WaveletDialogTest, ResetAndSettingsFiles) {
  TForm23* d = Start();
  ASSERT_NE(d, nullptr);
  test::TempDir dir;
  for (int i = 0; i < 9; ++i) d->TrackBars[size_t(i)]->setValue(i == 8 ? 60 : 5 + i);
  d->RadioGroup1->SetItemIndex(3);
  d->CheckBox1->setChecked(true);
  const TWaveletSettings chosen = d->CurrentSettings();
  ASSERT_TRUE(d->SaveSettingsFile(QString::fromStdString(dir.file("eigene.txt"))));  // saved as ".wvl"

  d->Button4Click();
  for (QLineEdit* e : d->Edits) EXPECT_EQ(e->text(), "1.00");
  EXPECT_EQ(d->RadioGroup1->ItemIndex(), 1);

  ASSERT_TRUE(d->LoadSettingsFile(QString::fromStdString(dir.file("eigene.wvl"))));
  const TWaveletSettings loaded = d->CurrentSettings();
  EXPECT_EQ(loaded.Hardness, 3);
  EXPECT_EQ(loaded.Strength, chosen.Strength);
  EXPECT_EQ(loaded.Thresholds, chosen.Thresholds);
  EXPECT_EQ(loaded.Gains, chosen.Gains);
  EXPECT_TRUE(loaded.Better);

  // A refused file changes no control and says why.
  test::WriteText(dir.file("kaputt.wvl"), "9\n1\n1\n1\n1\n1\n1\n1\n1\n1\n");
  EXPECT_FALSE(d->LoadSettingsFile(QString::fromStdString(dir.file("kaputt.wvl"))));
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_EQ(d->CurrentSettings().Strength, chosen.Strength);
  // Ten lines: "Bessere Berechnung" cleared; a comma reads as a point.
  test::WriteText(dir.file("zehn.wvl"), "0\n1,5\n1\n1\n1\n1\n1\n1\n1\n1\n");
  ASSERT_TRUE(d->LoadSettingsFile(QString::fromStdString(dir.file("zehn.wvl"))));
  EXPECT_FALSE(d->CheckBox1->isChecked());
  d->Button3->click();
  EXPECT_FALSE(d->Button3->isEnabled());
}

TEST_F(WaveletDialogTest, ResultFollowsTheSourcesColourModel) {
  TForm23* d = Start(32, 24, true);
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(RGBtoYUV(1));
  UpdateInfoPanel(1, 1);
  EXPECT_EQ(Store.Image[2].ColorModel, CmYuv);
  EXPECT_TRUE(d->Button3->isEnabled());
  d->Button3->click();
  ASSERT_TRUE(YUVtoRGB(1));
  UpdateInfoPanel(1, 1);
  EXPECT_EQ(Store.Image[2].ColorModel, CmRgb);
  EXPECT_TRUE(d->Button3->isEnabled());  // the pyramid holds the other model's planes
  EXPECT_FALSE(PyramidSets[0].Built[1]);
  // A gain change now rebuilds nothing until the next "&Berechnen".
  const std::vector<float> before = Result();
  d->TrackBars[4]->setValue(30);
  QTest::qWait(300);
  EXPECT_EQ(Result(), before);
}

TEST_F(WaveletDialogTest, ClosingDuringAComputationEndsWhenTheFilterHasStopped) {
  TForm23* d = Start(120, 100);
  ASSERT_NE(d, nullptr);
  d->CheckBox1->setChecked(true);  // the patch search: many rows between events
  const int result = SlotPair.Destination;
  bool closed = false;
  int calls = 0;
  ui_.Hook = [&](int) {
    // The first events come with the progress before the filter; the third inside its loop.
    if (closed || ++calls < 3) return;
    closed = true;
    ASSERT_FALSE(PyramidSets[0].Levels[1][0].Data.empty());
    d->close();  // by the window frame, while the filter runs
    EXPECT_TRUE(d->isVisible());
    EXPECT_TRUE(d->Computing());
  };
  d->Button3->click();
  ui_.Hook = nullptr;
  QApplication::processEvents();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(WaveletDialog() == nullptr || !WaveletDialog()->isVisible());
  EXPECT_FALSE(SlotInUse(result));
  EXPECT_TRUE(PyramidSets[0].Levels[1][0].Data.empty());
}

}  // namespace
}  // namespace astrelon
