// The side panel's star measurement: tool modes, the window under the mouse and
// the L and M keys.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QTableWidget>
#include <QLabel>
#include <QSpinBox>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include "core/language.h"
#include "qt_test_app.h"
#include "shell/main/main_texts.h"
#include "shell/slots/slot_utilities.h"
#include "shell/stamps/stamp_size.h"
#include "shell/stars/star_pick.h"
#include "shell/stars/star_results.h"
#include "shell/ui/dialogs/psf_forms.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/side_panel/side_panel.h"
#include "shell/ui/side_panel/star_panel.h"
#include "shell/windows/image_window_state.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

class StarPanelTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    ResetImageWindowState();
    LockedStar = {};
    MeasuredStar = {};
    panel_ = std::make_unique<TSidePanel>();
    MainLink().Panel = panel_.get();
    panel_->show();
  }
  void TearDown() override {
    MainLink().Panel = nullptr;
    panel_.reset();
    test::StoreTest::TearDown();
  }
  // A grey 100 x 100 image at 100 with a star of width 2 at (50, 60).
  void StarImage() {
    test::MakeImage(1, 100, 100, {std::vector<float>(100 * 100, 0.0f)});
    FillGaussianPsf(1, 50.5, 60.5, 2);
    for (float& v : Store.Image[1].Planes[1]) v += 100;
    UpdateMinMax(1);
  }
  // Info mode, the star image, the mouse at (x, y) and L.
  void LockAt(int32_t x, int32_t y) {
    SetInfoPanelMode(1);
    StarImage();
    StarHoverSlot = 1;
    StarHoverX = x;
    StarHoverY = y;
    StarKeyCommand('L', "L");
  }
  std::unique_ptr<TSidePanel> panel_;
};

TEST_F(StarPanelTest, ModesSetStampSizeAndForgetTheCopySource) {
  panel_->SpinEdit2->setValue(50);
  SetInfoPanelMode(3);
  EXPECT_EQ(panel_->SpinEdit2->value(), 31);
  EXPECT_EQ(StampRadiusSquared, 256);
  EXPECT_FALSE(panel_->ComboBox1->isHidden());
  panel_->SpinEdit2->setValue(50);  // the 31 limit stays in mode 3
  SetInfoPanelMode(7);
  panel_->SpinEdit2->setValue(50);
  SetInfoPanelMode(7);
  EXPECT_EQ(StampRadiusSquared, 650);
  EXPECT_FALSE(panel_->SpeedButton5->isHidden());
  CopySourceSlot = 3;
  SetInfoPanelMode(1);
  EXPECT_EQ(CopySourceSlot, 0);
  EXPECT_TRUE(panel_->SpeedButton5->isHidden());
  EXPECT_TRUE(panel_->SpinEdit2->isHidden());
}

TEST_F(StarPanelTest, WindowUnderTheMouseShowsStatisticsAndProfiles) {
  SetInfoPanelMode(1);
  test::MakeImage(1, 40, 40, {std::vector<float>(1600, 7.0f)});
  DrawPsfPanel(1, 20, 20);
  EXPECT_EQ(panel_->Label4->text(), "DC: 7");
  EXPECT_EQ(panel_->Label5->text(), "rms: 0");
  EXPECT_FALSE(panel_->Label4->isHidden());
  EXPECT_FALSE(panel_->Image3->isHidden());
  EXPECT_EQ(panel_->Label2->text(), "X");

  const std::vector<float> rgb(1600, 3.0f);
  test::MakeImage(2, 40, 40, {rgb, rgb, rgb});
  DrawPsfPanel(2, 20, 20);
  EXPECT_EQ(panel_->Label4->text(), "DCg: 3");

  test::MakeImage(3, 40, 40, {std::vector<float>(1600, -1e11f)});
  DrawPsfPanel(3, 20, 20);
  EXPECT_TRUE(panel_->Label4->isHidden());
}

TEST_F(StarPanelTest, LockAndMeasureKeys) {
  LockAt(51, 59);
  ASSERT_EQ(LockedStar.Analysed, 1);
  EXPECT_EQ(panel_->Label6->text(), "fwhmX:3.40");
  EXPECT_EQ(panel_->Label17->text(), "X: 50.00");
  EXPECT_EQ(panel_->SpeedButtonLI2->text(), "x2");
  // With a lock no profiles are drawn; the upper picture keeps the star.
  ShowPanelPictureGroup(3, false);
  DrawPsfPanel(1, 20, 20);
  EXPECT_TRUE(panel_->Image3->isHidden());
  EXPECT_EQ(panel_->Label2->text(), "Locked PSF");

  StarKeyCommand('M', "m");
  EXPECT_EQ(panel_->Label1->text(), "rMag:0.00");

  // Over no image: "m" shows no magnitude, "M" does nothing, "L" drops the lock.
  StarHoverSlot = -1;
  StarKeyCommand('M', "m");
  EXPECT_EQ(panel_->Label1->text(), "rMag:-");
  panel_->Label1->setText("kept");
  StarKeyCommand('M', "M");
  EXPECT_EQ(panel_->Label1->text(), "kept");
  StarKeyCommand('L', "l");
  EXPECT_EQ(LockedStar.Analysed, 0);
}

TEST_F(StarPanelTest, EscapeUnlocksInInfoMode) {
  LockAt(50, 60);
  ASSERT_EQ(LockedStar.Analysed, 1);
  StarKeyCommand(Qt::Key_Escape, {});
  EXPECT_EQ(LockedStar.Analysed, 0);
}

TEST_F(StarPanelTest, ResultTableFillsDeletesAndCopies) {
  RegisterPsfForms();
  StarResultTexts = {"a", "b", "1", "2", "3", "4", "5"};
  AddPsfResultToTable();
  StarResultTexts = {"c", "d", "1", "2", "3", "4", "5"};
  AddPsfResultToTable();
  auto* f = qobject_cast<TForm35*>(DialogForm(35));
  ASSERT_NE(f, nullptr);
  QTableWidget* g = f->StringGrid1;
  EXPECT_EQ(g->item(0, 0)->text(), "Dateiname");
  EXPECT_EQ(g->item(1, 0)->text(), "a");
  EXPECT_EQ(g->item(2, 0)->text(), "c");

  g->setRangeSelected(QTableWidgetSelectionRange(1, 0, 2, 1), true);
  f->StringGrid1KeyDown(Qt::Key_C, Qt::ControlModifier, "c");
  EXPECT_EQ(QApplication::clipboard()->text(), "a\tb\r\nc\td");

  f->StringGrid1MouseDown(1, 0);  // whole row 1
  f->StringGrid1KeyDown(Qt::Key_Delete, {}, {});
  EXPECT_EQ(g->rowCount(), 3);
  EXPECT_TRUE(g->item(1, 0)->text().isEmpty());
  f->StringGrid1KeyDown(Qt::Key_Delete, {}, {});
  EXPECT_EQ(g->rowCount(), 2);
  EXPECT_EQ(g->item(1, 0)->text(), "c");
  EXPECT_EQ(g->item(0, 0)->text(), "Dateiname");
  delete f;
}

TEST_F(StarPanelTest, BackgroundSettingReanalysesTheLockedStar) {
  RegisterPsfForms();
  LockAt(50, 60);
  ASSERT_EQ(LockedStar.Analysed, 1);
  ShowPsfSettings();
  auto* f = qobject_cast<TForm34*>(DialogForm(34));
  ASSERT_NE(f, nullptr);
  f->show();
  const float flux = LockedStar.Flux;
  LockedStar.Flux = -1;
  f->SpinEdit1->setValue(20);
  EXPECT_EQ(PsfBackgroundOffset, 20);
  EXPECT_GT(LockedStar.Flux, 0.0f);
  EXPECT_NE(LockedStar.Flux, -1.0f);
  (void)flux;
  f->close();
  PsfBackgroundOffset = 0;
  EXPECT_FALSE(PsfSettingsShown);
}

TEST_F(StarPanelTest, TranslatedTextsInThePanelAndBothPsfWindows) {
  RegisterPsfForms();
  LoadLanguageFile(test::TranslationLines(
      {{3,
        {"[1.1]Mean:", "[1.2]Noise:", "[1.4]Low:", "[1.6]Mean green:", "[1.9]Held PSF", "[1.10]Width X:",
         "[1.11]Width Y:", "[1.12]Light:", "[1.13]Magn:", "[1.14]<L> hold", "[1.15]<M> compare", "[1.16]Dist:",
         "[1.17]dMag:", "[1.20]PSF fit", "[1.21]Ground:", "[1.22]Overflow:", "[1.30]PSF table", "[1.31]Add to table",
         "[1.32]Add each lock", "[5.3]High:"}},
       {6, {"[1]Fine"}},
       {10, {"[3]Click for menu"}},
       {11, {"[15]Close"}},
       {32, {"[27]File"}}},
      32));
  ApplyTranslatedMainTexts();
  LockAt(51, 59);
  EXPECT_EQ(panel_->Label2->text(), "Held PSF");
  EXPECT_EQ(panel_->Label6->text(), "Width X:3.40");
  EXPECT_EQ(panel_->Label19->text().left(8), "Width Y:");
  EXPECT_EQ(panel_->Label21->text().left(5), "Magn:");
  DrawPsfPanel(1, 20, 20);
  EXPECT_EQ(panel_->Label4->text(), "Mean: 100");
  EXPECT_EQ(panel_->Label5->text().left(6), "Noise:");
  EXPECT_EQ(panel_->Shape1->toolTip(), "Click for menu");
  EXPECT_EQ(panel_->Label1->text(), "<M> compare");
  StarKeyCommand('M', "m");
  EXPECT_EQ(panel_->Label1->text(), "dMag:0.00");

  ShowPsfSettings();
  auto* settings = qobject_cast<TForm34*>(DialogForm(34));
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(settings->windowTitle(), "PSF fit");
  EXPECT_EQ(settings->Label1->text(), "Ground:");
  EXPECT_EQ(settings->Label2->text(), "Overflow:");
  EXPECT_EQ(settings->Button1->text(), "Fine");
  settings->close();

  AddPsfResultToTable();
  auto* table = qobject_cast<TForm35*>(DialogForm(35));
  ASSERT_NE(table, nullptr);
  const QStringList headers{"File", "X", "Y", "Width X", "Width Y", "Light", "Magn"};
  for (int c = 0; c < 7; ++c) EXPECT_EQ(table->StringGrid1->item(0, c)->text(), headers[c]);
  EXPECT_EQ(table->windowTitle(), "PSF table");
  EXPECT_EQ(table->Button1->text(), "Close");
  EXPECT_EQ(table->CheckBox1->text(), "Add each lock");
  int width = 33;
  for (int c = 0; c < 7; ++c) width += table->StringGrid1->columnWidth(c) + 1;
  EXPECT_EQ(table->width(), width);
  delete table;
  UnloadLanguageFile();
  ResetMainTexts();
}

TEST_F(StarPanelTest, RightClickOnTheLockedStarsPanelAddsItsRowToTheTable) {
  RegisterPsfForms();
  MainLink().StarPanelMenuRequested = ShowStarPanelMenu;
  MainLink().AddStarToTable = AddPsfResultToTable;
  SetInfoPanelMode(1);
  StarImage();
  QTest::mouseClick(panel_->Label4, Qt::RightButton);  // no star locked: no menu
  EXPECT_FALSE(panel_->PopupMenuInfos->isVisible());
  LockAt(51, 59);
  QTest::mouseClick(panel_->Label6, Qt::RightButton);
  ASSERT_TRUE(panel_->PopupMenuInfos->isVisible());
  EXPECT_EQ(panel_->InfoszuTabellehinzufgen1->text(), QString::fromUtf8("Infos zur Tabelle hinzufügen"));
  panel_->InfoszuTabellehinzufgen1->trigger();
  panel_->PopupMenuInfos->hide();
  auto* table = qobject_cast<TForm35*>(DialogForm(35));
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->StringGrid1->item(1, 1)->text(), "50.00");
  // The picture's frame takes the right button too; its left button opens the settings.
  QTest::mouseClick(panel_->Image2, Qt::RightButton);
  EXPECT_TRUE(panel_->PopupMenuInfos->isVisible());
  panel_->PopupMenuInfos->hide();
  delete table;
  MainLink().StarPanelMenuRequested = nullptr;
  MainLink().AddStarToTable = nullptr;
}

}  // namespace
}  // namespace astrelon
