// The frequency filter dialog on image windows, and the convolution, morph and
// relief commands.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QCursor>
#include <QLineEdit>
#include <QMouseEvent>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <cmath>

#include <gtest/gtest.h>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "common/text_codec.h"
#include "filters/ui/radio_group.h"
#include "frequency/ui/filter_graph.h"
#include "frequency/ui/filter_knob.h"
#include "frequency/ui/frequency_filter_commands.h"
#include "frequency/ui/frequency_filter_dialog.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/header_cards.h"

namespace astrelon {
namespace {

class FrequencyFilterDialog : public test::WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterFrequencyFilterCommands();
  }
  void TearDown() override {
    if (TForm6* d = astrelon::FrequencyFilterDialog()) d->close();
    QApplication::processEvents();
    SetEngineUi(nullptr);
    WindowTest::TearDown();
  }
  // An active image window with the values f(x, y) (three planes with `colour`).
  void OpenImage(int slot, int w, int h, float (*f)(int, int), bool colour = false) {
    Open(slot, w, h);
    TImageSlot& im = Store.Image[size_t(slot)];
    im.PlaneCount = colour ? 3 : 1;
    im.IsColor = colour;
    im.AllocatePlanes(im.PlaneCount);
    for (int p = 1; p <= im.PlaneCount; ++p)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) im.At(p, x, y) = f(x, y) + float(p - 1);
    UpdateMinMax(slot);
    Activate(slot);
  }
  void Activate(int slot) {
    area_->setActiveSubWindow(ImageWindow(slot));
    QApplication::processEvents();
    ASSERT_EQ(FindActiveSlot(), slot);
  }
  TForm6* Start(const char* command) {
    EXPECT_TRUE(RunMenuCommand(command));
    TForm6* d = astrelon::FrequencyFilterDialog();
    EXPECT_NE(d, nullptr);
    return d;
  }
  bool HasHistory(int slot, const std::string& text) {
    for (const std::string& card : Store.Header[size_t(slot)].ActiveCards())
      if (card.find(text) != std::string::npos) return true;
    return false;
  }
  TEngineUi ui_;
};

float Scene(int x, int y) { return 100.0f + 40.0f * float((x * 7 + y * 3) % 11) + 0.25f * float(x * y % 17); }

TEST_F(FrequencyFilterDialog, TwoDimensionalFilterShowsItsSpectrumAndKeepsTheResultOnOk) {
  OpenImage(1, 60, 40, Scene);
  TForm6* d = Start("N2DFrequenzfilter1");
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(d->windowTitle(), " 2D Frequenzfilter");
  EXPECT_TRUE(Store.HasWindow[2]);
  EXPECT_EQ(d->Result(), 2);
  EXPECT_EQ(OperationRunning, 1);
  EXPECT_FALSE(d->BerechnenButton->isEnabled());
  EXPECT_FALSE(d->UebernehmenButton->isEnabled());
  EXPECT_TRUE(d->LinesGroup->isHidden());
  EXPECT_TRUE(d->OmitBrightBox->isHidden());
  EXPECT_GT(d->Filter().Curves.K(), 0);
  // The graph's top line holds the largest value of C.
  const TGraphScale g = d->GraphScale();
  double largest = 0;
  for (double v : d->Filter().Curves.C) largest = std::max(largest, v);
  EXPECT_EQ(g.PlotY(largest), 3);

  // Saving without an edit: K gains of 1.
  test::TempDir dir;
  ASSERT_TRUE(d->SaveCurveFile(dir.file("flach")));
  const auto lines = SplitLines(*ReadTextFile(dir.file("flach.qfg")));
  ASSERT_EQ(int(lines.size()), d->Filter().Curves.K() + 1);
  EXPECT_EQ(lines[0], std::to_string(d->Filter().Curves.K()));
  EXPECT_EQ(lines[5], "1");

  // A low pass drawn as a line across the upper half of the graph.
  const int width = d->GraphWidth();
  d->GraphPressed(QPoint(width / 2, 3), Qt::LeftButton);
  d->GraphMoved(QPoint(width - 1, g.Height - 3), Qt::LeftButton);
  d->GraphReleased(QPoint(width - 1, g.Height - 3), Qt::LeftButton);
  EXPECT_TRUE(d->BerechnenButton->isEnabled());
  EXPECT_TRUE(d->UebernehmenButton->isEnabled());
  const std::vector<float> before(Store.Image[2].Planes[1].begin(), Store.Image[2].Planes[1].end());
  d->BerechnenButton->click();
  EXPECT_NE(std::vector<float>(Store.Image[2].Planes[1].begin(), Store.Image[2].Planes[1].end()), before);
  EXPECT_FALSE(d->BerechnenButton->isEnabled());

  d->OkButton->click();
  QApplication::processEvents();
  EXPECT_EQ(astrelon::FrequencyFilterDialog(), nullptr);  // freed
  EXPECT_TRUE(Store.HasWindow[2]);
  EXPECT_TRUE(HasHistory(2, "2D Frequenzfilter"));
  EXPECT_EQ(OperationRunning, 0);
  EXPECT_EQ(SlotPair.Destination, -1);
  EXPECT_EQ(FindFreeSlot(), 3);  // the spectrum slot is gone
  EXPECT_TRUE(ui_.Messages.empty());
}

TEST_F(FrequencyFilterDialog, AbbrechenAndTheWindowFrameCloseTheResult) {
  OpenImage(1, 30, 20, Scene);
  for (const bool frame : {false, true}) {
    TForm6* d = Start("Frequenzfilter1");
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(Store.HasWindow[2]);
    if (frame)
      d->close();
    else
      d->AbbrechenButton->click();
    QApplication::processEvents();
    EXPECT_FALSE(Store.InUse[2]);
    EXPECT_EQ(OperationRunning, 0);
    EXPECT_EQ(astrelon::FrequencyFilterDialog(), nullptr);
    Activate(1);
  }
}

TEST_F(FrequencyFilterDialog, RowControlsEqualiserAndBrushLabel) {
  OpenImage(1, 64, 16, Scene);
  TForm6* d = Start("Frequenzfilter1");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->windowTitle(), " 1D Frequenzfilter");
  EXPECT_FALSE(d->OmitBrightBox->isHidden());
  EXPECT_EQ(d->Filter().Curves.K(), 33);
  EXPECT_EQ(d->BrushLabel->text(), "40% Punktbreite");
  d->TrackBar1->setValue(7);
  EXPECT_EQ(d->BrushLabel->text(), "28 % Punktbreite");

  d->LinesGroup->SetItemIndex(1);
  d->OmitBrightBox->setChecked(true);
  EXPECT_EQ(d->LinesGroup->ItemIndex(), 0);
  emit d->LinesGroup->Clicked(1);
  EXPECT_FALSE(d->OmitBrightBox->isChecked());

  // "Band" at x = 1 (bin 16 of 33 with "Frequenz" 0.50): B / 10^(4/20).
  emit d->PassGroup->Clicked(0);
  EXPECT_EQ(d->ValueEdit->text(), "-4.0");
  EXPECT_EQ(d->QualityEdit->text(), "2.0");
  EXPECT_EQ(d->FrequencyEdit->text(), "0.50");
  d->EqBox->setChecked(true);
  const TFilterCurves& c = d->Filter().Curves;
  EXPECT_NEAR(c.C[16], c.B[16] / std::pow(10.0, 0.2), 1e-9 * c.B[16]);
  EXPECT_TRUE(d->BerechnenButton->isEnabled());
  // "Tief": 0.70 · B at x = 1.
  d->PassGroup->SetItemIndex(1);
  emit d->PassGroup->Clicked(1);
  EXPECT_EQ(d->ValueEdit->text(), "20.0");
  EXPECT_EQ(d->QualityEdit->text(), "0.70");
  EXPECT_EQ(d->ValueLabel->text(), "dB/Oktave");
  EXPECT_NEAR(c.C[16], 0.7 * c.B[16], 1e-9 * c.B[16]);
  // Knobs: 0.01 per pixel for "Frequenz", kept within 0.01 .. 1.
  emit d->FrequencyKnob->Turned(3);
  EXPECT_EQ(d->FrequencyEdit->text(), "0.53");
  emit d->FrequencyKnob->Turned(-500);
  EXPECT_EQ(d->FrequencyEdit->text(), "0.01");
  emit d->ValueKnob->Turned(1000);
  EXPECT_EQ(d->ValueEdit->text(), "80.0");
  // "Übernehmen": the equalised curve is the new base.
  const std::vector<double> equalised = c.C;
  d->UebernehmenButton->click();
  EXPECT_FALSE(d->EqBox->isChecked());
  EXPECT_EQ(c.B, equalised);
  // "&Reset": C = S, the result is the source again.
  Store.Image[2].At(1, 3, 3) = -7.0f;
  d->ResetClick();
  EXPECT_EQ(c.C, c.S);
  EXPECT_EQ(Store.Image[2].At(1, 3, 3), Store.Image[1].At(1, 3, 3));
  EXPECT_FALSE(d->BerechnenButton->isEnabled());
}

// Dragging a knob hides the pointer; the moves along the dominant axis count,
// summed where the pointer cannot be held in place.
TEST_F(FrequencyFilterDialog, KnobDrags) {
  TFilterKnob knob;
  knob.show();
  std::vector<int> turns;
  QObject::connect(&knob, &TFilterKnob::Turned, [&](int px) { turns.push_back(px); });
  auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(at), QPointF(knob.mapToGlobal(at)), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(&knob, &e);
  };
  send(QEvent::MouseButtonPress, {12, 12}, Qt::LeftButton);
  EXPECT_EQ(knob.cursor().shape(), Qt::BlankCursor);
  send(QEvent::MouseMove, {17, 13}, Qt::LeftButton);  // right 5
  const bool held = QCursor::pos() == knob.mapToGlobal(QPoint(12, 12));
  send(QEvent::MouseMove, {12, 9}, Qt::LeftButton);  // held: up 3 from the press; else left 5 from the last
  send(QEvent::MouseButtonRelease, {12, 9}, Qt::NoButton);
  EXPECT_EQ(turns, (std::vector<int>{5, held ? 3 : -5}));
  EXPECT_NE(knob.cursor().shape(), Qt::BlankCursor);
}

TEST_F(FrequencyFilterDialog, CurveFilesOpenIntoTheResponse) {
  OpenImage(1, 64, 16, Scene);
  TForm6* d = Start("Frequenzfilter1");
  ASSERT_NE(d, nullptr);
  test::TempDir dir;
  test::WriteText(dir.file("halb.qfg"), "1\n0,5\n");
  test::WriteText(dir.file("kaputt.qfg"), "5\n1\n");
  const TFilterCurves& c = d->Filter().Curves;
  const std::vector<double> start = c.C;
  d->OpenCurveFile(dir.file("fehlt.qfg"));
  d->OpenCurveFile(dir.file("kaputt.qfg"));
  EXPECT_EQ(c.C, start);
  ASSERT_EQ(ui_.Messages.size(), 1u);  // only the refused file is reported
  d->OpenCurveFile(dir.file("halb.qfg"));
  for (int i = 0; i < c.K(); ++i) EXPECT_NEAR(c.C[size_t(i)], 0.5 * c.S[size_t(i)], 1e-6 * c.S[size_t(i)]);
  EXPECT_EQ(c.B, c.C);
  EXPECT_TRUE(d->BerechnenButton->isEnabled());
  d->BerechnenButton->click();
  EXPECT_NEAR(Store.Image[2].At(1, 10, 5), 0.5f * Store.Image[1].At(1, 10, 5), 1e-3f);
}

// A change of the channel selection recomputes the spectrum of the source for
// the selected planes and gives the result the source's planes again.
TEST_F(FrequencyFilterDialog, FollowsTheChannelSelection) {
  OpenImage(1, 40, 20, Scene, true);
  TForm6* d = Start("Frequenzfilter1");
  ASSERT_NE(d, nullptr);
  const std::vector<double> all = d->Filter().Curves.S;
  Store.Image[2].At(2, 1, 1) = -3.0f;
  Store.Display[2].ChannelSelection = 2;
  UpdateInfoPanel(2, 2);
  EXPECT_EQ(Store.Display[1].ChannelSelection, 2);
  EXPECT_NE(d->Filter().Curves.S, all);
  EXPECT_EQ(Store.Image[2].At(2, 1, 1), Store.Image[1].At(2, 1, 1));
  EXPECT_TRUE(d->BerechnenButton->isEnabled());
}

TEST_F(FrequencyFilterDialog, GraphPictureAndWheel) {
  OpenImage(1, 64, 16, Scene);
  TForm6* d = Start("N2DFrequenzfilter1");
  ASSERT_NE(d, nullptr);
  d->WidthMaximal->trigger();
  const int width = d->GraphWidth();
  EXPECT_EQ(width, d->Filter().Curves.K());
  EXPECT_DOUBLE_EQ(d->BinsPerPixel(), 1.0);
  d->GraphWheel(2);
  EXPECT_GT(d->GraphWidth(), width);
  EXPECT_EQ(d->Image1->width(), d->GraphWidth());
  const int slot = d->MakeGraphImage();
  ASSERT_GE(slot, 1);
  EXPECT_TRUE(Store.HasWindow[size_t(slot)]);
  EXPECT_EQ(Store.FileName[size_t(slot)], "Grafik_1.png");
  EXPECT_EQ(Store.Image[size_t(slot)].Width, d->Image1->Picture().width());
  d->KeepShape->trigger();
  EXPECT_EQ(Settings.FftCurveKeep, 1);
}

TEST_F(FrequencyFilterDialog, ConvolutionMorphAndRelief) {
  // The slot of the window that a command opened.
  auto run = [&](const char* command) {
    std::vector<uint8_t> before(Store.HasWindow.begin(), Store.HasWindow.end());
    Activate(1);
    EXPECT_TRUE(RunMenuCommand(command));
    for (int s = 1; s <= MaxImageSlots; ++s)
      if (Store.HasWindow[size_t(s)] && !before[size_t(s)]) return s;
    return -1;
  };
  OpenImage(1, 40, 30, Scene);
  Open(2, 9, 9);
  Store.Image[2].Planes[1].assign(81, 0.0f);
  Store.Image[2].At(1, 4, 4) = 1.0f;
  UpdateMinMax(2);
  const int convolved = run("Convolution1");
  ASSERT_GE(convolved, 1);
  EXPECT_NEAR(Store.Image[size_t(convolved)].At(1, 20, 15), Scene(20, 15), 0.05);
  EXPECT_TRUE(HasHistory(convolved, "Mit PSF falten (Convolution)"));
  EXPECT_EQ(CountOpenWindows(), 3);  // no working slot is left

  Store.Display[1].White = 600.0f;
  const int relief = run("N3DDarstellung1");
  ASSERT_GE(relief, 1);
  EXPECT_EQ(Store.Image[size_t(relief)].Width, 40 + 7 + 4);
  EXPECT_EQ(Store.Image[size_t(relief)].Height, 15 + 160);
  EXPECT_EQ(Store.FileName[size_t(relief)], "Grafik_1.png");

  // More than two windows: the second image is chosen from the list.
  test::WhenModal([](QWidget* w) {
    auto* list = w->findChild<QListWidget*>("ListBox1");
    ASSERT_NE(list, nullptr);
    list->setCurrentRow(0);
    w->findChild<QPushButton*>("Button1")->click();
  });
  const int morphed = run("FFTMorph1");
  ASSERT_GE(morphed, 1);
  EXPECT_EQ(Store.Image[size_t(morphed)].Width, 9);  // cut to the second image
  EXPECT_TRUE(HasHistory(morphed, "FFT Morph"));
  EXPECT_TRUE(ui_.Messages.empty());
}

}  // namespace
}  // namespace astrelon
