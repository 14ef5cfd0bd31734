// The settings dialog: typed values, radio groups, what a second showing
// refreshes, the round trip of every control through the settings file, the
// memory bar and the network folder.
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <map>
#include <sstream>

#include "filters/ui/radio_group.h"
#include "qt_test_app.h"
#include "shell/main/settings_dialog_rules.h"
#include "shell/ui/settings/memory_bar.h"
#include "shell/ui/settings/settings_dialog.h"
#include "tools_fixture.h"

namespace astrelon {
namespace {

class SettingsDialogTest : public test::ToolWindowTest {
protected:
  void SetUp() override {
    ToolWindowTest::SetUp();
    ResetSettings();
    form_ = CreateSettingsDialog(main_.get());
  }
  void ShowForm() {
    form_->show();
    QApplication::processEvents();
  }
  static void ClickItem(TRadioGroup* group, int item) { group->findChildren<QRadioButton*>()[item]->click(); }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  TForm33* form_ = nullptr;
};

TEST_F(SettingsDialogTest, TypedValuesAndRadioGroupsActAtOnce) {
  DetectCpuFeatures();
  GetProcessorCount();
  ShowForm();
  form_->Edit[1]->setText("150");
  EXPECT_EQ(Settings.JpegQuality, 100);
  EXPECT_EQ(form_->Edit[1]->text(), "150");
  form_->Edit[1]->setText("abc");
  EXPECT_EQ(Settings.JpegQuality, 100);
  form_->Edit[8]->setText("0,5");
  EXPECT_EQ(Settings.HotPixelSigma, 1.0);

  ClickItem(form_->RadioGroup3, 3);  // "Lanczos3"
  EXPECT_EQ(Settings.InterpolationKind, 4);
  EXPECT_EQ(Options.OpInterpolation, 3);
  EXPECT_EQ(KernelWindow.Lo, -2);
  EXPECT_EQ(KernelWindow.Hi, 3);
  ClickItem(form_->RadioGroup1, 2);
  EXPECT_EQ(Settings.FitsSaveFormat, 16);

  form_->CheckBoxOfTag(51)->setChecked(false);
  EXPECT_EQ(UseWorkerThreads, 0);
  form_->CheckBoxOfTag(51)->setChecked(true);
  EXPECT_EQ(UseWorkerThreads, ProcessorCount > 1 ? 1 : 0);
  form_->CheckBoxOfTag(50)->setChecked(false);
  EXPECT_FALSE(Sse2Enabled);
  form_->CheckBoxOfTag(50)->setChecked(true);
  EXPECT_EQ(Sse2Enabled, HasSse2);
}

TEST_F(SettingsDialogTest, ASecondShowingRefreshesOnlyTheFiveValues) {
  ShowForm();
  form_->hide();
  Options.FitsFlip = 0;            // changed elsewhere: the box keeps its state
  Settings.JpegQuality = 42;       // refreshed
  Settings.InterpolationKind = 3;  // "dSinc": no item
  Settings.FitsExtension = ".fts";
  Options.Preview = 0;
  ShowForm();
  EXPECT_TRUE(form_->CheckBox(1)->isChecked());
  EXPECT_EQ(form_->Edit[1]->text(), "42");
  EXPECT_EQ(form_->RadioGroup3->ItemIndex(), -1);
  EXPECT_EQ(form_->RadioGroup2->ItemIndex(), 1);
  EXPECT_FALSE(form_->CheckBox(2)->isChecked());
  // Filling the controls stored nothing.
  EXPECT_EQ(Options.FitsFlip, 0);
}

TEST_F(SettingsDialogTest, EveryControlRoundTripsThroughTheSettingsFile) {
  ShowForm();
  for (QCheckBox* box : form_->findChildren<QCheckBox*>())
    if (box->property("Tag").toInt() != 53) box->setChecked(!box->isChecked());
  ClickItem(form_->RadioGroup1, 1);
  ClickItem(form_->RadioGroup2, 1);
  ClickItem(form_->RadioGroup3, 0);
  const char* typed[9] = {"", "77", "3", "1.5", "97.5", "12", "4.2", "20", "6,5"};
  for (int n = 1; n <= 8; ++n) form_->Edit[size_t(n)]->setText(typed[n]);
  const std::string file = SettingsFileText();
  EXPECT_NE(file.find("\nRScale: Nein\n"), std::string::npos);  // checked box 4 stores "Nein"
  EXPECT_NE(file.find("\nHotpixel Sigma: 6.5\n"), std::string::npos);

  std::map<QString, bool> states;
  for (QCheckBox* box : form_->findChildren<QCheckBox*>()) states[box->objectName()] = box->isChecked();
  ResetSettings();
  ApplySettingsLines(Lines(file));
  delete form_;
  form_ = CreateSettingsDialog(main_.get());
  ShowForm();
  for (QCheckBox* box : form_->findChildren<QCheckBox*>())
    EXPECT_EQ(box->isChecked(), states[box->objectName()]) << box->objectName().toStdString();
  EXPECT_EQ(form_->RadioGroup1->ItemIndex(), 1);
  EXPECT_EQ(form_->RadioGroup2->ItemIndex(), 1);
  EXPECT_EQ(form_->RadioGroup3->ItemIndex(), 0);
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(std::stod(form_->Edit[size_t(n)]->text().replace(',', '.').toStdString()),
                                         std::stod(QString(typed[n]).replace(',', '.').toStdString())) << n;
}

TEST_F(SettingsDialogTest, MemoryBarShowsWhileCheckedAndItsExitButtonUnchecksTheBox) {
  ShowForm();
  QCheckBox* box = form_->CheckBoxOfTag(53);
  box->setChecked(true);
  TMemoryBar* bar = MemoryBar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->objectName(), "ToolBar2");
  EXPECT_TRUE(bar->isVisible());
  EXPECT_TRUE(bar->Timer3->isActive());
  EXPECT_GT(bar->Figures().Resident, 0u);
  EXPECT_TRUE(MemoryBarText(bar->Figures()).contains(" MB im Speicher"));
  EXPECT_EQ(Options.MemoryBar, 1);
  const std::string withBar = SettingsFileText();
  Options.MemoryBar = 0;
  EXPECT_EQ(SettingsFileText(), withBar);  // not stored
  Options.MemoryBar = 1;
  bar->SpeedButtonExitP3->click();
  EXPECT_FALSE(box->isChecked());
  EXPECT_FALSE(bar->isVisible());
  EXPECT_FALSE(bar->Timer3->isActive());
}

TEST_F(SettingsDialogTest, NetworkFolderIsTheFolderOfTheChosenName) {
  ShowForm();
  int rebuilt = 0;
  MainLink().BuildNetworkFilterMenu = [&rebuilt] { ++rebuilt; };
  const test::TempDir dir;
  test::WhenModal([&dir](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->nameFilters(), QStringList{"*.nnf"});
    dialog->selectFile(QString::fromStdString(dir.file("In den Ordner wechseln und Öffnen klicken")));
    static_cast<QDialog*>(dialog)->accept();
  });
  form_->Button1->click();
  MainLink().BuildNetworkFilterMenu = nullptr;
  EXPECT_EQ(Settings.NetworkFolder, dir.path().string());
  EXPECT_EQ(rebuilt, 1);
}

}  // namespace
}  // namespace astrelon
