// The iterative sharpenings in the shared dialog: "Iteratives PSF-schärfen"
// picks its PSF before the dialog opens (or closes its result window again),
// switches the side panel to the PSF view and back; both functions leave no
// slot taken after "&Ok" or "&Abbruch"; a full store stops the Gauss
// sharpening with a message.
#include <cmath>
#include <memory>
#include <vector>

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>

#include "filter_dialog_fixture.h"
#include "filters/sharpening/psf/psf_source.h"
#include "filters/sharpening/psf/psf_steepening.h"
#include "qt_test_app.h"
#include "shell/stars/star_pick.h"
#include "shell/ui/dialogs/list_chooser.h"
#include "shell/ui/side_panel/side_panel.h"
#include "shell/ui/side_panel/star_panel.h"
#include "store/display/display_histogram.h"

namespace astrelon::test {
namespace {

class IterativeSharpenDialog : public FilterDialogTest {
protected:
  void SetUp() override {
    FilterDialogTest::SetUp();
    SetEngineUi(&ui);
    saved_ = MainLink().SetInfoPanelMode;
    MainLink().SetInfoPanelMode = [this](int mode) { modes.push_back(mode); };
    RecentFunctionsMenu()->clear();
    psfItem = std::make_unique<QAction>(QString::fromUtf8("Iteratives &PSF-schärfen"));
  }
  void TearDown() override {
    MainLink().SetInfoPanelMode = saved_;
    FilterDialogTest::TearDown();
  }
  // Slot 1: background 100 with a little ripple and a broad star at (40, 30).
  TMDIChild* OpenStar() {
    TMDIChild* w = Open(1, 80, 60);
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 80; ++x)
        Store.Image[1].At(1, x, y) = 100.0f + float((x * 7 + y * 3) % 5) * 0.4f +
                                     3000.0f * std::exp(-float((x - 40) * (x - 40) + (y - 30) * (y - 30)) / 12.5f);
    UpdateMinMax(1);
    area_->setActiveSubWindow(w);
    return w;
  }
  static void MarkStar(TMDIChild* w) {
    w->Overlay().Image2.Visible = true;
    w->Overlay().Image2.Bounds = QRect(30, 20, 21, 21);
  }
  void StartPsf() {
    ASSERT_TRUE(RunMenuCommand("IterativesPSFschrfennichtlinear1", psfItem.get()));
    QApplication::processEvents();
  }
  bool InRecentFunctions(const QString& caption) const {
    for (QAction* a : RecentFunctionsMenu()->actions())
      if (a->text() == caption) return true;
    return false;
  }

  TEngineUi ui;
  std::vector<int> modes;
  std::unique_ptr<QAction> psfItem;
  std::function<void(int)> saved_;
};

TEST_F(IterativeSharpenDialog, WithoutAMarkedStarTheResultWindowClosesAgain) {
  OpenStar();
  // The chooser lists the result window; cancelling it leaves no PSF.
  WhenModal([](QWidget* w) {
    auto* form = qobject_cast<TForm4*>(w);
    ASSERT_NE(form, nullptr);
    form->Button2->click();
  });
  StartPsf();
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(Store.InUse[2]);
  EXPECT_EQ(FindFreeSlot(), 2);
  ASSERT_FALSE(ui.Messages.empty());
  EXPECT_EQ(ui.Messages.back(), "Die PSF konnte nicht bestimmt werden. Bitte die PSF markieren!");
  EXPECT_TRUE(modes.empty());
  EXPECT_TRUE(InRecentFunctions(QString::fromUtf8("Iteratives PSF-schärfen")));
}

TEST_F(IterativeSharpenDialog, MarkedStarServesAsPsfAndOkKeepsOnlyTheResult) {
  MarkStar(OpenStar());
  StartPsf();
  ASSERT_TRUE(form->isVisible());
  EXPECT_EQ(FunktionNr, 9);
  EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Iteratives PSF-schärfen"));
  EXPECT_FALSE(form->RadioGroup1->isHidden());
  EXPECT_EQ(modes, std::vector<int>{2});
  EXPECT_TRUE(InRecentFunctions(QString::fromUtf8("Iteratives PSF-schärfen")));
  // The dialog's copy of the PSF: smoothed and steepened to a peak of 1.
  EXPECT_EQ(PsfStore.OriginX + 15, 40);
  EXPECT_EQ(SteepenedPsf.MaxValue, 1.0f);

  form->Button3->click();
  EXPECT_NE(Store.Image[2].Planes[1], Store.Image[1].Planes[1]);
  EXPECT_GT(Out(40, 30), Store.Image[1].At(1, 40, 30));  // the star's peak rises
  form->Button1->click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(Store.HasWindow[2]);
  EXPECT_EQ(FindFreeSlot(), 3);
  EXPECT_EQ(History(2), "Iteratives PSF-schaerfen, Staerke 1.00, Iterationen 16, Schwarzschwelle, Funktion Linear");
  EXPECT_EQ(modes.back(), 1);  // the side panel leaves the PSF view
}

// The dialog shows the form it computes with (the table's default "Linear"),
// and the side panel's PSF view shows the picked star until the dialog closes.
TEST_F(IterativeSharpenDialog, FunctionGroupAndPsfViewShowWhatIsUsed) {
  TSidePanel panel;
  MainLink().Panel = &panel;
  panel.show();
  MainLink().SetInfoPanelMode = SetInfoPanelMode;
  SetInfoPanelMode(1);
  MarkStar(OpenStar());
  StartPsf();
  ASSERT_TRUE(form->isVisible());
  EXPECT_EQ(form->RadioGroup1->ItemIndex(), 0);
  EXPECT_EQ(form->RadioGroup1->Item(0), "Linear");
  EXPECT_FALSE(panel.Image2->isHidden());
  const QImage picture = panel.Image2->pixmap().toImage();
  ASSERT_FALSE(picture.isNull());
  // The star's centre is the brightest point of the picture, its corner the sky.
  const int c = picture.width() / 2;
  EXPECT_EQ(qGray(picture.pixel(c, c)), 255);
  EXPECT_LT(qGray(picture.pixel(0, 0)), 16);
  form->RadioGroup1->SetItemIndex(1);
  form->Button2->click();
  QApplication::processEvents();
  EXPECT_EQ(LockedStar.Analysed, 0);
  // A choice stays for the next show.
  area_->setActiveSubWindow(ImageWindow(1));
  StartPsf();
  EXPECT_EQ(form->RadioGroup1->ItemIndex(), 1);
  MainLink().Panel = nullptr;
}

TEST_F(IterativeSharpenDialog, AbbruchAfterAComputationFreesEverySlot) {
  MarkStar(OpenStar());
  StartPsf();
  ASSERT_TRUE(form->isVisible());
  form->Button3->click();
  form->Button2->click();
  QApplication::processEvents();
  EXPECT_FALSE(Store.InUse[2]);
  EXPECT_EQ(FindFreeSlot(), 2);

  area_->setActiveSubWindow(ImageWindow(1));
  ASSERT_TRUE(RunMenuCommand("IterativesGaussschrfen1"));
  ASSERT_TRUE(form->isVisible());
  EXPECT_EQ(FunktionNr, 10);
  form->Button3->click();
  EXPECT_NE(Store.Image[2].Planes[1], Store.Image[1].Planes[1]);
  EXPECT_EQ(FilterWorkSlot, -1);
  form->Button2->click();
  QApplication::processEvents();
  EXPECT_EQ(FindFreeSlot(), 2);
}

TEST_F(IterativeSharpenDialog, GaussSharpeningWithoutAFreeSlotChangesNothing) {
  OpenStar();
  ASSERT_TRUE(RunMenuCommand("IterativesGaussschrfen1"));
  ASSERT_TRUE(form->isVisible());
  for (int s = 3; s <= MaxImageSlots; ++s) MakeImage(s, 2, 2);
  form->Button3->click();
  ASSERT_FALSE(ui.Messages.empty());
  EXPECT_EQ(ui.Messages.back(), "Es sind zu viele Bilder geöffnet");
  EXPECT_EQ(Store.Image[2].Planes[1], Store.Image[1].Planes[1]);
  // With room again (a check-box click enables "Berechnen") the Ok keeps the
  // result and no work slot.
  for (int s = 3; s <= MaxImageSlots; ++s) FreeSlot(s);
  form->CheckBox1->click();
  form->CheckBox1->click();
  form->Button3->click();
  EXPECT_NE(Store.Image[2].Planes[1], Store.Image[1].Planes[1]);
  form->Button1->click();
  EXPECT_EQ(FindFreeSlot(), 3);
}

}  // namespace
}  // namespace astrelon::test
