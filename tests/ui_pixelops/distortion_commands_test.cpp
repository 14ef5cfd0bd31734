// The perspective command with drawn guide lines, and the field-distortion
// dialog: preview, its timer, a refused edit, ".qzk" files, Ok and Abbruch.
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "pixelops/geometry/field_distortion_settings.h"
#include "pixelops/ui/geometry/distortion_commands.h"
#include "pixelops/ui/geometry/field_distortion_dialog.h"
#include "pixelops/ui/operation_frame.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/guide_lines.h"

namespace astrelon::test {
namespace {

class DistortionCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterDistortionCommands();
    savedMark_ = MarkGuideLines;
    DistortionSettings = {};
  }
  void TearDown() override {
    if (TForm19* f = qobject_cast<TForm19*>(DialogForm(19)); f && f->isVisible()) f->Button2Click();
    QApplication::processEvents();
    MarkGuideLines = savedMark_;
    WindowTest::TearDown();
    SetEngineUi(nullptr);
  }
  static void Run(const char* name, const char* caption) {
    QAction item(QString::fromUtf8(caption));
    item.setObjectName(name);
    EXPECT_TRUE(RunMenuCommand(name, &item));
  }
  // The lines the user "draws" at the next prompt (nullopt: the prompt is cancelled).
  void Draw(std::optional<std::vector<TRectI>> lines) {
    MarkGuideLines = [lines](int mode) {
      EXPECT_EQ(mode, 2);
      return lines;
    };
  }
  TEngineUi ui_;
  std::function<std::optional<std::vector<TRectI>>(int)> savedMark_;
};

TEST_F(DistortionCommandsTest, PerspectiveMakesANewWindowOrSaysWhyNot) {
  Open(1, 40, 30);
  Draw(std::vector<TRectI>{{5, 0, 8, 20}, {30, 2, 0, 8}});  // vertical and horizontal
  Run("Perspektivekorrigieren1", "&Perspektive korrigieren");
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_EQ(ui_.Messages[0], "Die Ausrichtung der Linien kann nicht bearbeitet werden.\nVielleicht das Bild vorher rotieren.");
  EXPECT_FALSE(Store.InUse[2]);
  Draw(std::nullopt);
  Run("Perspektivekorrigieren1", "&Perspektive korrigieren");
  EXPECT_FALSE(Store.InUse[2]);

  Draw(std::vector<TRectI>{{10, 0, 10, 29}, {30, 0, 30, 29}});
  Run("Perspektivekorrigieren1", "&Perspektive korrigieren");
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_EQ(ui_.Messages.size(), 1u);
  EXPECT_EQ(HistoryText(2), "Perspektive korrigieren");
  EXPECT_NEAR(Store.Image[2].Planes[1][size_t(12 * 40 + 17)], 17 + 2 * 12, 1e-3);
  EXPECT_EQ(SlotPair.Source, -1);
}

TEST_F(DistortionCommandsTest, DialogPreviewsOkKeepsAndAbbruchCloses) {
  Open(1, 30, 20);
  Run("Kissenentzerrung1", "Bildfeld &Entzerrung");
  auto* form = qobject_cast<TForm19*>(DialogForm(19));
  ASSERT_TRUE(form && form->isVisible());
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_TRUE(OperationRunning);
  // The defaults reproduce the source at once.
  EXPECT_EQ(Store.Image[2].Planes[1][size_t(5 * 30 + 7)], 7.0f + 10.0f);

  // An edit restarts the 500 ms timer; its tick computes the preview.
  form->Timer1->stop();
  form->Edit[3]->setText("1.05");
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_EQ(form->Timer1->interval(), 500);
  EXPECT_EQ(DistortionSettings.D, "1.05");
  form->Timer1Timer();
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_EQ(Store.Image[2].Planes[1][0], BlankPixel);

  // Text that is no number marks its edit and leaves the result as it was.
  const std::vector<float> before = PlaneValues(2, 1);
  form->Edit[2]->setText("zwei");
  form->Timer1Timer();
  EXPECT_EQ(form->MarkedEdit(), form->Edit[2]);
  EXPECT_EQ(PlaneValues(2, 1), before);
  EXPECT_TRUE(ui_.Messages.empty());
  form->Edit[2]->setText("0.00");
  form->Timer1Timer();
  EXPECT_EQ(form->MarkedEdit(), nullptr);

  // Arrows step by 0.01, 0.02 for the panorama width and 0.1 for the limb contrast.
  form->UpDownClick(4, true);
  EXPECT_EQ(form->Edit[3]->text(), "1.06");
  form->UpDownClick(9, false);
  EXPECT_EQ(form->Edit[8]->text(), "0.98");
  form->UpDownClick(12, true);
  EXPECT_EQ(form->Edit[11]->text(), "3.1");
  EXPECT_TRUE(form->CheckBox2->isVisibleTo(form));
  form->PageControl1->setCurrentIndex(2);
  EXPECT_FALSE(form->CheckBox2->isVisibleTo(form));

  form->Button2->click();
  QApplication::processEvents();
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(Store.InUse[2]);
  EXPECT_FALSE(Store.HasWindow[2]);
  EXPECT_FALSE(OperationRunning);

  // Ok keeps the result with the dialog's caption in its history.
  ActivateImageWindow(1);
  Run("Kissenentzerrung1", "Bildfeld &Entzerrung");
  ASSERT_TRUE(form->isVisible());
  EXPECT_EQ(form->PageControl1->currentIndex(), 2);  // the values stay between uses
  form->Button1->click();
  EXPECT_FALSE(form->isVisible());
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_EQ(HistoryText(2), "Bildfeld Entzerrung");
}

// Events processed inside a preview may bring a timer tick after an edit: the
// running preview is not entered again, and one more follows with the last values.
TEST_F(DistortionCommandsTest, ChangeDuringAPreviewRestartsItAfterwards) {
  struct TTickingUi : TEngineUi {
    TForm19* Form = nullptr;
    int Calls = 0;
    void ProcessMessages() override {
      if (!Form || Calls++ != 0) return;
      Form->Edit[3]->setText("2.0");
      Form->Timer1Timer();
    }
  } ui;
  Open(1, 30, 20);
  SetEngineUi(&ui);
  Run("Kissenentzerrung1", "Bildfeld &Entzerrung");
  auto* form = qobject_cast<TForm19*>(DialogForm(19));
  ASSERT_TRUE(form && form->isVisible());
  ui.Form = form;
  ui.Calls = 0;
  form->Edit[3]->setText("1.5");
  form->Timer1Timer();
  // The preview ran twice, the second time with D = 2: pixel (16, 10), 1.5 and
  // 0.5 from the centre (14.5, 9.5), comes from (17.5, 10.5), where x + 2 y = 38.5.
  EXPECT_GE(ui.Calls, 2);
  EXPECT_NEAR(Store.Image[2].Planes[1][size_t(10 * 30 + 16)], 38.5f, 1e-3);
  form->Button2Click();
  SetEngineUi(&ui_);
}

TEST_F(DistortionCommandsTest, PlanetPageMeasuresTheDiscAndFilesLoad) {
  // A bright disc of radius 12 about (30, 20) on a dark 60 x 40 image.
  TImageSlot& im = Store.Image[1];
  Open(1, 60, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x)
      im.Planes[1][size_t(y * 60 + x)] = (x - 30) * (x - 30) + (y - 20) * (y - 20) <= 144 ? 1000.0f : 10.0f;
  UpdateMinMax(1);
  Run("Kissenentzerrung1", "Bildfeld &Entzerrung");
  auto* form = qobject_cast<TForm19*>(DialogForm(19));
  ASSERT_TRUE(form);
  form->PageControl1->setCurrentIndex(1);
  const double width = form->Edit[6]->text().toDouble();
  EXPECT_NEAR(width, 25.0 / 60, 0.03);
  EXPECT_NEAR(form->Edit[7]->text().toDouble(), 25.0 / 60 / width, 0.1);
  EXPECT_NEAR(form->Edit[4]->text().toDouble(), 0.5, 0.03);
  EXPECT_EQ(form->Edit[6]->text().size(), 5);  // three decimals

  TempDir dir;
  ASSERT_TRUE(form->SaveSettingsFile(QString::fromStdString(dir.file("p.txt"))));
  form->PageControl1->setCurrentIndex(0);
  form->Edit[6]->setText("9");
  ASSERT_TRUE(form->LoadSettingsFile(QString::fromStdString(dir.file("p"))));
  EXPECT_EQ(form->PageControl1->currentIndex(), 1);
  EXPECT_NEAR(form->Edit[6]->text().toDouble(), width, 1e-9);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_FALSE(form->LoadSettingsFile(QString::fromStdString(dir.file("none"))));
}

}  // namespace
}  // namespace astrelon::test
