#include "pixelops/ui/geometry/resize_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "pixelops/ui/geometry/resize_commands.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {
namespace {

class ResizeDialogTest : public test::WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterResizeCommands();
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    WindowTest::TearDown();
  }
  // Opens a 200 x 100 image and the dialog for it.
  TForm8* OpenDialog() {
    Open(1, 200, 100);
    EXPECT_TRUE(RunMenuCommand("Bildgrendern1"));
    TForm8* d = ResizeDialog();
    EXPECT_TRUE(d->isVisible());
    return d;
  }
  static void Type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
  }
  static std::string History(int slot) {
    std::string all;
    for (const std::string& card : Store.Header[size_t(slot)].ActiveCards())
      if (card.rfind("HISTORY", 0) == 0) all += card + "|";
    return all;
  }
  TEngineUi ui_;
};

TEST_F(ResizeDialogTest, MenuCommandNeedsAnImage) {
  EXPECT_TRUE(RunMenuCommand("Bildgrendern1"));
  EXPECT_FALSE(DialogForm(8) && DialogForm(8)->isVisible());
  TForm8* d = OpenDialog();
  EXPECT_EQ(d->SourceSlot, 1);
  EXPECT_EQ(d->windowTitle(), "Bildgröße ändern");
  EXPECT_EQ(d->ItemIndex(), IkBicubic);
  EXPECT_EQ(d->Edit1->text(), "1");
  EXPECT_FALSE(d->CheckBox2->isEnabled());
  EXPECT_FALSE(d->CheckBox3->isEnabled());
}

TEST_F(ResizeDialogTest, EditsAreCoupled) {
  TForm8* d = OpenDialog();
  // Factors: the other edit follows; shrinking enables the reduction choices.
  Type(d->Edit1, "0.5");
  EXPECT_EQ(d->Edit2->text(), "0.5");
  EXPECT_TRUE(d->CheckBox2->isEnabled());
  EXPECT_TRUE(d->CheckBox3->isEnabled());
  d->CheckBox3->click();
  EXPECT_FALSE(d->CheckBox2->isEnabled());
  EXPECT_FALSE(d->RadioGroup1->isEnabled());
  d->CheckBox3->click();
  EXPECT_TRUE(d->RadioGroup1->isEnabled());

  // Pixel counts keep the image's proportion from the edited side.
  d->TabControl1->setCurrentIndex(1);
  EXPECT_EQ(d->Edit1->text(), "200");
  EXPECT_EQ(d->Edit2->text(), "100");
  EXPECT_FALSE(d->CheckBox2->isEnabled());
  Type(d->Edit1, "100");
  EXPECT_EQ(d->Edit2->text(), "50");
  Type(d->Edit2, "30");
  EXPECT_EQ(d->Edit1->text(), "60");
  EXPECT_TRUE(d->CheckBox2->isEnabled());

  // Back to factors: the remembered ones; unequal factors clear the proportion.
  d->TabControl1->setCurrentIndex(0);
  EXPECT_EQ(d->Edit1->text(), "0.5");
  EXPECT_TRUE(d->CheckBox1->isChecked());
  d->CheckBox1->setChecked(false);
  Type(d->Edit2, "0.25");
  EXPECT_EQ(d->Edit1->text(), "0.5");
  d->TabControl1->setCurrentIndex(1);
  d->TabControl1->setCurrentIndex(0);
  EXPECT_FALSE(d->CheckBox1->isChecked());
  // Checking it again copies the side edited last.
  d->CheckBox1->setChecked(true);
  EXPECT_EQ(d->Edit1->text(), "0.25");
}

TEST_F(ResizeDialogTest, OkResizesACopyIntoANewWindow) {
  TForm8* d = OpenDialog();
  Type(d->Edit1, "0.5");
  d->Button1Click();
  EXPECT_FALSE(d->isVisible());
  ASSERT_TRUE(SlotInUse(2));
  EXPECT_EQ(Store.Image[2].Width, 100);
  EXPECT_EQ(Store.Image[2].Height, 50);
  EXPECT_EQ(Store.Image[1].Width, 200);
  EXPECT_NE(ImageWindow(2), nullptr);
  const std::string h = History(2);
  for (const char* part : {"Bildgr", "Faktor", "Horizontal 0.5", "Vertikal 0.5", "Interpolation Bikubisch", "Anti Moir"})
    EXPECT_NE(h.find(part), std::string::npos) << part << " in " << h;
  EXPECT_EQ(h.find("Kasten"), std::string::npos);
  EXPECT_EQ(Store.NewHistoryCard[2], 1);
  EXPECT_EQ(SlotPair.Destination, -1);
  EXPECT_EQ(GetHeaderValue(2, "NAXIS1", true), "100");
}

TEST_F(ResizeDialogTest, OkDoesNothingForBadEntriesOrAClosedSource) {
  TForm8* d = OpenDialog();
  Type(d->Edit1, "abc");
  d->Button1Click();
  EXPECT_FALSE(SlotInUse(2));
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_NE(ui_.Messages[0].find("abc"), std::string::npos);
  d->show();
  Type(d->Edit1, "0");
  d->Button1Click();
  EXPECT_FALSE(SlotInUse(2));
  EXPECT_EQ(ui_.Messages.size(), 1u);
  // The dialog stays while its source image is closed.
  d->show();
  Type(d->Edit1, "2");
  area_->closeAllSubWindows();
  QApplication::processEvents();
  d->Button1Click();
  EXPECT_EQ(CountOpenWindows(), 0);
}

TEST_F(ResizeDialogTest, SettingsFilesRoundTrip) {
  TForm8* d = OpenDialog();
  test::TempDir dir;
  d->TabControl1->setCurrentIndex(1);
  Type(d->Edit1, "100");
  d->SetItemIndex(IkLanczos3);
  d->CheckBox3->setChecked(true);
  ASSERT_TRUE(d->SaveSettingsFile(QString::fromStdString(dir.file("scale.txt"))));
  const std::vector<unsigned char> saved = test::ReadAll(dir.file("scale.qzg"));
  EXPECT_EQ(std::string(saved.begin(), saved.end()), "V4 P100\n50\n4\nAMF\nBOX\n");

  test::WriteText(dir.file("one.qzg"), "0.5");
  ASSERT_TRUE(d->LoadSettingsFile(QString::fromStdString(dir.file("one.qzg"))));
  EXPECT_EQ(d->TabControl1->currentIndex(), 0);
  EXPECT_EQ(d->Edit1->text(), "0.5");
  EXPECT_EQ(d->Edit2->text(), "");
  EXPECT_FALSE(d->CheckBox3->isChecked());
  EXPECT_FALSE(d->CheckBox1->isChecked());

  ASSERT_TRUE(d->LoadSettingsFile(QString::fromStdString(dir.file("scale.qzg"))));
  EXPECT_EQ(d->TabControl1->currentIndex(), 1);
  EXPECT_EQ(d->Edit1->text(), "100");
  EXPECT_EQ(d->Edit2->text(), "50");
  EXPECT_EQ(d->ItemIndex(), IkLanczos3);
  EXPECT_TRUE(d->CheckBox3->isChecked());
  EXPECT_FALSE(d->RadioGroup1->isEnabled());
  EXPECT_FALSE(d->LoadSettingsFile(QString::fromStdString(dir.file("missing.qzg"))));
}

}  // namespace
}  // namespace astrelon
