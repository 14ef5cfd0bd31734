// The deconvolution dialog on image windows: its start from the menu, the
// designer's fields, "&Berechnen", "Stärke", "&Ok" and "&Abbrechen", PSF images
// from the list (the only one chosen, a message when none is), the view's brushes, and closing while it computes.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cmath>
#include <functional>

#include <gtest/gtest.h>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "frequency/deconvolution/psf_view.h"
#include "frequency/ui/deconvolution_dialog.h"
#include "frequency/ui/psf_view_widget.h"
#include "pixelops/ui/tool_launch_commands.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/header_cards.h"

namespace astrelon {
namespace {

// Runs a hook (once) at the next message pass of the engine.
class HookUi : public TEngineUi {
public:
  void ProcessMessages() override {
    ++calls;
    if (auto hook = std::exchange(Hook, nullptr)) hook();
  }
  std::function<void()> Hook;
  int calls = 0;
};

float Stars(int x, int y) {
  double v = 100.0 + 0.2 * x;
  for (const auto& [sx, sy] : {std::pair{12, 10}, {30, 22}, {20, 30}})
    v += 500.0 * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / 6.0);
  return float(v);
}

class DeconvolutionDialogTest : public test::WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterToolLaunchCommands();
    RegisterDeconvolutionForm();
  }
  void TearDown() override {
    if (TForm22* d = DeconvolutionDialog()) {
      d->hide();
      delete d;
    }
    RegisterDialogForm(DeconvolutionForm, nullptr);
    QApplication::processEvents();
    SetEngineUi(nullptr);
    WindowTest::TearDown();
  }
  void OpenImage(int slot, int w, int h, const std::string& name = {}) {
    Open(slot, w, h);
    TImageSlot& im = Store.Image[size_t(slot)];
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) im.At(1, x, y) = Stars(x, y);
    if (!name.empty()) Store.FileName[size_t(slot)] = name;
    ResetDisplayRange(slot, 0);
  }
  // Image 1 (48 × 40) active, the dialog started on it.
  TForm22* Start() {
    OpenImage(1, 48, 40);
    area_->setActiveSubWindow(ImageWindow(1));
    QApplication::processEvents();
    EXPECT_TRUE(RunMenuCommand("FFTpsfschaerfen1"));
    TForm22* d = DeconvolutionDialog();
    EXPECT_NE(d, nullptr);
    EXPECT_TRUE(d && d->isVisible());
    return d;
  }
  static std::vector<float> Plane(int slot) {
    const TPlane& p = Store.Image[size_t(slot)].Planes[1];
    return {p.begin(), p.end()};
  }
  HookUi ui_;
};

TEST_F(DeconvolutionDialogTest, MenuItemWaitsForTheFormWhoseFieldsFollowTheirSliders) {
  RegisterDialogForm(DeconvolutionForm, nullptr);
  EXPECT_FALSE(MenuCommandAvailable("FFTpsfschaerfen1"));
  RegisterDeconvolutionForm();
  EXPECT_TRUE(MenuCommandAvailable("FFTpsfschaerfen1"));
  TForm22* d = Start();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->windowTitle(), "Deconvolution");
  EXPECT_EQ(d->Source(), 1);
  EXPECT_EQ(d->Destination(), 2);
  EXPECT_TRUE(Store.HasWindow[2]);
  EXPECT_EQ(OperationRunning, 1);

  EXPECT_EQ(d->Label6->text(), "1.00");
  EXPECT_EQ(d->Edit2->text(), "1.5");
  EXPECT_EQ(d->Edit3->text(), "3.3");
  EXPECT_EQ(d->Edit1->text(), "1.00");
  EXPECT_EQ(d->Edit4->text(), "0.0");
  EXPECT_FALSE(d->TrackBar3->isEnabled());
  EXPECT_FALSE(d->Edit3->isEnabled());
  EXPECT_EQ(d->Designer().DesignedPsf, d->Designer().Psf1Grid);

  d->TrackBar5->setValue(45);
  EXPECT_EQ(d->Label6->text(), "0.00");
  EXPECT_EQ(d->Noise(), 0.0);
  d->TrackBar1->setValue(21);
  EXPECT_EQ(d->Edit1->text(), "2.00");
  d->TrackBar6->setValue(15);
  EXPECT_EQ(d->Edit2->text(), "3.3");
  d->TrackBar7->setValue(30);
  EXPECT_EQ(d->Edit4->text(), "0.33");
  EXPECT_TRUE(d->TrackBar3->isEnabled());
  EXPECT_NE(d->Designer().DesignedPsf, d->Designer().Psf1Grid);

  // Text in a field leaves the grids as they are.
  const TPsfGrid before = d->Designer().DesignedPsf;
  for (QLineEdit* e : {d->Edit1, d->Edit2, d->Edit3, d->Edit4}) {
    e->setText("abc");
    EXPECT_EQ(d->Designer().DesignedPsf, before);
  }
}

TEST_F(DeconvolutionDialogTest, BerechnenStrengthAndOk) {
  TForm22* d = Start();
  ASSERT_NE(d, nullptr);
  d->TrackBar5->setValue(40);
  d->Button3->click();
  const int D = d->DifferenceSlot();
  ASSERT_GE(D, 3);
  EXPECT_FALSE(Store.HasWindow[size_t(D)]);
  EXPECT_NE(Plane(2), Plane(1));
  // The difference is the result less the source.
  for (const auto& [x, y] : {std::pair{12, 10}, {3, 35}})
    EXPECT_NEAR(Store.Image[size_t(D)].At(1, x, y), Store.Image[2].At(1, x, y) - Store.Image[1].At(1, x, y), 1e-3);
  const std::vector<float> linear = Plane(2);

  // "Stärke" at 30 after the timer: v + d·|d|/R.
  d->TrackBar8->setValue(30);
  EXPECT_TRUE(d->Timer1->isActive());
  d->Timer1Timer();
  EXPECT_FALSE(d->Timer1->isActive());
  const TDisplayRecord& display = Store.Display[1];
  const double R = std::max((double(display.White) - double(display.Black)) / 2.0, 1.0);
  for (const auto& [x, y] : {std::pair{12, 10}, {30, 22}, {5, 5}}) {
    const double v = Store.Image[1].At(1, x, y), dd = Store.Image[size_t(D)].At(1, x, y);
    EXPECT_NEAR(Store.Image[2].At(1, x, y), v + dd * std::abs(dd) / R, 1e-2);
  }
  // Back to 0: the pure deconvolution.
  d->TrackBar8->setValue(0);
  d->Timer1Timer();
  for (size_t i = 0; i < linear.size(); ++i) ASSERT_NEAR(Plane(2)[i], linear[i], 1e-3);

  d->Button2->click();
  EXPECT_FALSE(d->isVisible());
  EXPECT_TRUE(Store.HasWindow[2]);
  EXPECT_NE(test::HistoryText(2).find("Deconvolution"), std::string::npos);
  EXPECT_FALSE(SlotInUse(D));
  EXPECT_EQ(OperationRunning, 0);
  EXPECT_EQ(SlotPair.Source, -1);
  EXPECT_EQ(CountOpenWindows(), 2);
}

TEST_F(DeconvolutionDialogTest, AbbrechenClosesTheDestinationAndNoPsfComputesNothing) {
  TForm22* d = Start();
  ASSERT_NE(d, nullptr);
  d->Designer().DesignedPsf.fill(0.0f);
  d->Button3->click();
  EXPECT_EQ(Plane(2), Plane(1));
  EXPECT_EQ(d->DifferenceSlot(), -1);
  // The image source with no image to choose: nothing, and a message that says so.
  d->SpeedButton6->click();
  d->Button3->click();
  EXPECT_EQ(d->DifferenceSlot(), -1);
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_NE(ui_.Messages[0].find("kein anderes Bild"), std::string::npos) << ui_.Messages[0];
  d->Button1->click();
  EXPECT_FALSE(d->isVisible());
  EXPECT_FALSE(SlotInUse(2));
  EXPECT_EQ(OperationRunning, 0);
}

TEST_F(DeconvolutionDialogTest, ImageListKeepsSlotsAndTakesThePsfFromTheChosenImage) {
  // Two PSF images of one name: each entry keeps its own slot.
  OpenImage(3, 9, 9, "/data/psf.fit");
  OpenImage(4, 9, 9, "/data/psf.fit");
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) Store.Image[4].At(1, x, y) = x == 4 && y == 4 ? 200.0f : 0.0f;
  UpdateMinMax(4);
  TForm22* d = Start();
  ASSERT_NE(d, nullptr);
  const int dst = d->Destination();
  ASSERT_EQ(d->ComboBox2->count(), 2);  // source and destination are not listed
  EXPECT_EQ(d->FindPsfImageSlot(0), 3);
  EXPECT_EQ(d->FindPsfImageSlot(1), 4);
  EXPECT_EQ(d->FindPsfImageSlot(2), -1);
  EXPECT_FALSE(d->Button4->isEnabled());
  // Two images and none chosen: "&Berechnen" says what to choose and computes nothing.
  d->SpeedButton6->click();
  d->Button3->click();
  EXPECT_EQ(d->DifferenceSlot(), -1);
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_NE(ui_.Messages[0].find("PSF-Bild ^"), std::string::npos) << ui_.Messages[0];
  d->SpeedButton7->click();
  d->ComboBox2->setCurrentIndex(1);
  emit d->ComboBox2->activated(1);
  EXPECT_TRUE(d->Button4->isEnabled());
  d->Button4->click();
  EXPECT_EQ(d->Designer().DesignedPsf[PsfCell(31, 31)], 255.0f);  // 200 scaled to 255
  EXPECT_EQ(d->Designer().DesignedPsf[PsfCell(30, 31)], 0.0f);

  // The chosen image as the PSF: a delta gives the image back.
  d->SpeedButton6->click();
  d->TrackBar5->setValue(45);
  d->Button3->click();
  for (size_t i = 0; i < Plane(dst).size(); ++i) ASSERT_NEAR(Plane(dst)[i], Plane(1)[i], 1e-2);
  EXPECT_GE(d->DifferenceSlot(), 1);
  // A closed image is no longer found; opening the list finds the windows as they are now.
  CloseImageSlot(4);
  QApplication::processEvents();
  EXPECT_EQ(d->FindPsfImageSlot(1), -1);
  OpenImage(6, 9, 9, "/data/other.fit");
  QTest::mouseClick(d->ComboBox2, Qt::LeftButton);
  d->ComboBox2->hidePopup();
  ASSERT_EQ(d->ComboBox2->count(), 2);
  EXPECT_EQ(d->FindPsfImageSlot(1), 6);
}

// One image beside the source: the list shows it chosen, and "&Berechnen" takes it.
TEST_F(DeconvolutionDialogTest, TheOnlyImageIsTheChosenPsf) {
  OpenImage(3, 9, 9, "/data/psf.fit");
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) Store.Image[3].At(1, x, y) = x == 4 && y == 4 ? 200.0f : 0.0f;
  UpdateMinMax(3);
  TForm22* d = Start();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(d->ComboBox2->count(), 1);
  EXPECT_EQ(d->ComboBox2->currentIndex(), 0);
  EXPECT_TRUE(d->Button4->isEnabled());
  // Nothing chosen any more (as after a list that had several): the only entry is taken.
  d->ComboBox2->setCurrentIndex(-1);
  d->SpeedButton6->click();
  d->TrackBar5->setValue(45);
  d->Button3->click();
  EXPECT_EQ(d->ComboBox2->currentIndex(), 0);
  EXPECT_GE(d->DifferenceSlot(), 1);
  EXPECT_TRUE(ui_.Messages.empty());
  for (size_t i = 0; i < Plane(2).size(); ++i) ASSERT_NEAR(Plane(2)[i], Plane(1)[i], 1e-2);
}

TEST_F(DeconvolutionDialogTest, PsfImageBrushesZoomAndTheNegativeClamp) {
  TForm22* d = Start();
  ASSERT_NE(d, nullptr);
  d->TrackBar1->setValue(21);  // Y/X 2.00
  const int slot = d->SpeedButton5Click();
  ASSERT_GE(slot, 3);
  EXPECT_NE(ImageWindow(slot), nullptr);
  EXPECT_EQ(Store.FileName[size_t(slot)], "PSF_0.fit");
  const TImageSlot& im = Store.Image[size_t(slot)];
  EXPECT_EQ(im.Width, 64);
  EXPECT_EQ(im.Height, 64);
  EXPECT_EQ(im.PlaneCount, 1);
  EXPECT_GT(im.At(1, 31, 33), 2 * im.At(1, 33, 31));  // taller than wide

  // "Zeichnen" at the view's picture pixel (10, 20), zoom 1.
  QTest::mouseClick(d->Image3, Qt::LeftButton, {}, QPoint(10 * 4 + 1, 20 * 4 + 2));
  EXPECT_EQ(d->Designer().DesignedPsf[PsfCell(10, 20)], 255.0f);
  // Zoom 2 at the middle scroll positions: pixel (2, 2) shows cell (17, 17).
  d->SpeedButton3->click();
  EXPECT_EQ(d->SpeedButton3->text(), " x2");
  EXPECT_EQ(d->Zoom(), 2);
  QTest::mouseClick(d->Image3, Qt::LeftButton, {}, QPoint(2 * 4, 2 * 4));
  EXPECT_EQ(d->Designer().DesignedPsf[PsfCell(17, 17)], 255.0f);
  // Hovering feeds the PSF panel; nothing changes in the grid.
  const TPsfGrid before = d->Designer().DesignedPsf;
  QTest::mouseMove(d->Image3, QPoint(100, 100));
  EXPECT_EQ(d->Designer().DesignedPsf, before);
  d->SpeedButton3->click();
  d->SpeedButton3->click();
  EXPECT_EQ(d->SpeedButton3->text(), " x1");

  // " -w" lowers by 15 (radius 3 at the centre) and clamps at 0 until a right click.
  d->SpeedButton2->click();
  d->Designer().DesignedPsf.fill(5.0f);
  QTest::mouseClick(d->Image3, Qt::LeftButton, {}, QPoint(40 * 4, 40 * 4));
  EXPECT_EQ(d->Designer().DesignedPsf[PsfCell(40, 40)], 0.0f);
  EXPECT_TRUE(d->SpeedButton2->toolTip().contains("werden zu 0"));
  QTest::mouseClick(d->SpeedButton2, Qt::RightButton);
  EXPECT_FALSE(d->ClampNegative());
  EXPECT_TRUE(d->SpeedButton2->toolTip().contains("bleiben erhalten"));
  QTest::mouseClick(d->Image3, Qt::LeftButton, {}, QPoint(20 * 4, 40 * 4));
  EXPECT_EQ(d->Designer().DesignedPsf[PsfCell(20, 40)], -10.0f);
  QTest::mouseClick(d->SpeedButton2, Qt::RightButton);
  EXPECT_TRUE(d->ClampNegative());
}

TEST_F(DeconvolutionDialogTest, ClosingWhileComputingStopsFirstThenClosesTheDestination) {
  TForm22* d = Start();
  ASSERT_NE(d, nullptr);
  // A second click on "&Berechnen" stops the stages: the destination keeps the source.
  ui_.Hook = [d] { d->Button3Click(); };
  d->Button3->click();
  EXPECT_EQ(Plane(2), Plane(1));
  EXPECT_TRUE(d->isVisible());

  // Closing the dialog meanwhile: the running stages end before the destination goes.
  ui_.Hook = [d] {
    d->close();
    EXPECT_TRUE(SlotInUse(2));
    EXPECT_TRUE(d->Computing());
  };
  d->Button3->click();
  EXPECT_FALSE(d->isVisible());
  EXPECT_FALSE(SlotInUse(2));
  EXPECT_EQ(OperationRunning, 0);
  EXPECT_EQ(CountOpenWindows(), 1);
}

TEST_F(DeconvolutionDialogTest, OkWhileTheBlendRunsWaitsForIt) {
  TForm22* d = Start();
  ASSERT_NE(d, nullptr);
  d->Button3->click();
  const int D = d->DifferenceSlot();
  ASSERT_GE(D, 1);
  const std::vector<float> source = Plane(1), difference = Plane(D);
  d->TrackBar8->setValue(30);
  ui_.Hook = [d] { d->Button2->click(); };  // "Ok" during the blend
  d->Timer1Timer();
  EXPECT_FALSE(d->isVisible());
  EXPECT_FALSE(SlotInUse(D));
  EXPECT_TRUE(Store.HasWindow[2]);
  EXPECT_NE(test::HistoryText(2).find("Deconvolution"), std::string::npos);
  // The blend ran to its end before "Ok" took the result.
  const TDisplayRecord& display = Store.Display[1];
  const double R = std::max((double(display.White) - double(display.Black)) / 2.0, 1.0);
  const std::vector<float> kept = Plane(2);
  for (size_t i = 0; i < kept.size(); ++i)
    ASSERT_NEAR(kept[i], source[i] + difference[i] * std::abs(difference[i]) / R, 1e-2) << i;
}

}  // namespace
}  // namespace astrelon
