// "Text+Rahmen einfügen" from the menu with its dialog and settings file, and
// the image window's text and arrow tools with their dialog.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "common/text_codec.h"
#include "pixelops/stamping/text_frame_settings.h"
#include "pixelops/ui/operation_frame.h"
#include "pixelops/ui/stamping/text_frame_dialog.h"
#include "pixelops/ui/stamping/text_insert_dialog.h"
#include "pixelops/ui/stamping/text_stamp_commands.h"
#include "qt_test_app.h"
#include "shell/ui/controls/up_down.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/mouse_tools.h"
#include "shell/undo/undo_store.h"

namespace astrelon::test {
namespace {

class TextStampCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterTextStampCommands();
    ClearUndoStore();
    EngineUi().Messages.clear();
  }
  void TearDown() override {
    if (TForm17* f = TextFrameDialog()) f->close();
    ClearUndoStore();
    WindowTest::TearDown();
  }
  // A grey image of one value with display range 0..255, active.
  void OpenFlat(int slot, int w, int h, float value) {
    Open(slot, w, h);
    std::fill(Store.Image[size_t(slot)].Planes[1].begin(), Store.Image[size_t(slot)].Planes[1].end(), value);
    UpdateMinMax(slot);
    Store.Display[size_t(slot)].Black = 0, Store.Display[size_t(slot)].White = 255;
    ActivateImageWindow(slot);
  }
  static TForm17* StartDialog() {
    QAction item(QString::fromUtf8("&Text+Rahmen einfügen"));
    item.setObjectName("TextRahmeneinfgen1");
    EXPECT_TRUE(RunMenuCommand("TextRahmeneinfgen1", &item));
    return TextFrameDialog();
  }
  // The dialog lives on between tests: back to the form's defaults, no title, no text.
  static TForm17* StartFreshDialog() {
    TForm17* form = StartDialog();
    if (!form) return nullptr;
    form->ApplySettings(TTextFrameSettings{});
    form->Edit2->clear();
    form->Memo1->clear();
    return form;
  }
  ConfigHome home_;
};

TEST_F(TextStampCommandsTest, MenuCommandDialogAndFrameWithoutText) {
  OpenFlat(1, 100, 80, 100);
  TForm17* form = StartFreshDialog();
  ASSERT_TRUE(form && form->isVisible());
  EXPECT_EQ(TextSlot, 1);
  EXPECT_TRUE(ImageWindow(1)->BorderIconsLocked());
  EXPECT_EQ(RecentFunctionCaption(0), QString::fromUtf8("Text+Rahmen einfügen"));
  form->SaveSettingsClick();
  EXPECT_FALSE(form->SpeedButton6->isEnabled());
  // A typed width that is no number leaves the up-down where it was.
  form->Edit1->setText("abc");
  emit form->Edit1->textEdited("abc");
  EXPECT_EQ(form->UpDown1->Position(), 2);
  form->Edit1->setText("2");
  emit form->Edit1->textEdited("2");
  EXPECT_TRUE(form->SpeedButton6->isEnabled());

  const int result = form->GenerateClick();
  ASSERT_EQ(result, 2);
  EXPECT_TRUE(Store.HasWindow[2]);
  const TImageSlot& im = Store.Image[2];
  EXPECT_EQ(im.Width, 120);
  EXPECT_EQ(im.Height, 100);
  EXPECT_FLOAT_EQ(im.At(1, 60, 50), 100.0f);
  EXPECT_FLOAT_EQ(im.At(1, 9, 50), 255.0f);
  EXPECT_FLOAT_EQ(im.At(1, 0, 50), 0.0f);
  EXPECT_EQ(Store.Image[1].Width, 100);

  form->close();
  EXPECT_EQ(TextSlot, -1);
  EXPECT_FALSE(ImageWindow(1)->BorderIconsLocked());
}

TEST_F(TextStampCommandsTest, CaptionTextHeaderBoxesAndTooNarrow) {
  OpenFlat(1, 200, 60, 0);
  SetHeaderString(1, "OBJECT", "M 42");
  TForm17* form = StartFreshDialog();
  ASSERT_TRUE(form);
  EXPECT_TRUE(form->HeaderBoxes[size_t(THeaderInfoKey::Object)]->isEnabled());
  EXPECT_TRUE(form->HeaderBoxes[size_t(THeaderInfoKey::Object)]->isChecked());
  EXPECT_FALSE(form->HeaderBoxes[size_t(THeaderInfoKey::Telescope)]->isEnabled());
  form->Memo1->setPlainText("old");
  form->HeaderInfoClick();
  EXPECT_EQ(form->Memo1->toPlainText(), "M 42");

  // Smooth white text on black: the text rows below the frame get ink, within the display range.
  form->CheckBox9->setChecked(true);
  form->Memo1->setPlainText("Orion Nebula\nM 42\n");
  const int result = form->GenerateClick();
  ASSERT_GT(result, 0);
  const TImageSlot& im = Store.Image[size_t(result)];
  EXPECT_EQ(im.Width, 220);
  // Two lines: T = 3 x round(1.3 x 13) = 51 below H + B + F.
  EXPECT_EQ(im.Height, 60 + 10 + 2 + 51);
  float brightest = 0;
  for (int y = 72; y < im.Height; ++y)
    for (int x = 0; x < im.Width; ++x) brightest = std::max(brightest, im.At(1, x, y));
  EXPECT_GT(brightest, 100.0f);
  EXPECT_LE(brightest, 255.0f);

  // A title wider than the image: no result, and no slot left behind.
  ActivateImageWindow(1);
  form->Edit2->setText("A very long title that does not fit beside the text");
  const int before = CountOpenWindows();
  EXPECT_EQ(form->GenerateClick(), -1);
  EXPECT_EQ(CountOpenWindows(), before);
}

TEST_F(TextStampCommandsTest, ColourCaptionTakesTheFontColour) {
  Open(1, 120, 30);
  TImageSlot& im1 = Store.Image[1];
  im1.PlaneCount = 3, im1.IsColor = 1;
  for (int p = 1; p <= 3; ++p) im1.Planes[size_t(p)].assign(3600, 10.0f);
  UpdateMinMax(1);
  Store.Display[1].Black = 0, Store.Display[1].White = 255;
  ActivateImageWindow(1);
  TForm17* form = StartFreshDialog();
  ASSERT_TRUE(form);
  form->SetTextFont(QFont("DejaVu Sans", 10), 0x0000FF);  // red text
  form->Memo1->setPlainText("XXXX");
  const int result = form->GenerateClick();
  ASSERT_GT(result, 0);
  const TImageSlot& im = Store.Image[size_t(result)];
  float red = 0, green = 0;
  for (int y = 30 + 10 + 2; y < im.Height; ++y)
    for (int x = 0; x < im.Width; ++x) {
      red = std::max(red, im.At(1, x, y));
      green = std::max(green, im.At(2, x, y));
    }
  EXPECT_GT(red, 200.0f);
  EXPECT_FLOAT_EQ(green, 0.0f);
}

TEST_F(TextStampCommandsTest, SettingsAreSavedAndRestored) {
  OpenFlat(1, 50, 40, 0);
  TForm17* form = StartFreshDialog();
  ASSERT_TRUE(form);
  ASSERT_TRUE(form->SaveSettingsClick());
  const auto text = ReadTextFile(home_.path().string() + "/astrelon/qz_text.ini");
  ASSERT_TRUE(text);
  const std::vector<std::string> lines = SplitLines(*text);
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[0], "Rahmen");
  EXPECT_EQ(lines[12], "nicht abgerundet");
  EXPECT_EQ(lines[15], "LinksAusrichtung");

  form->CheckBox1->setChecked(false);
  form->CheckBox15->setChecked(true);
  form->SpeedButton7->click();
  form->SetFrameColour(255 | 0x01000000);
  form->Edit3->setText("25");
  emit form->Edit3->textEdited("25");
  ASSERT_TRUE(form->SaveSettingsClick());
  form->close();
  ActivateImageWindow(1);
  form = StartDialog();
  form->ApplySettings(TTextFrameSettings{});
  form->close();
  ActivateImageWindow(1);
  form = StartDialog();
  EXPECT_FALSE(form->CheckBox1->isChecked());
  EXPECT_TRUE(form->CheckBox15->isChecked());
  EXPECT_TRUE(form->SpeedButton7->isChecked());
  EXPECT_EQ(form->CurrentSettings().FrameColour, 255);
  EXPECT_EQ(form->UpDown2->Position(), 25);
}

TEST_F(TextStampCommandsTest, TextToolStampsAtTheCornerAndUndoes) {
  EXPECT_TRUE(TextToolAvailable());
  EXPECT_TRUE(ArrowToolAvailable());
  OpenFlat(1, 60, 40, 50);
  const std::vector<float> before = PlaneValues(1, 1);
  Settings.Text = "Ag ";
  Settings.TextColour = 0xFFFFFF;
  Settings.TextOptions = 10 * 16 + 1 + 4;  // 10 points, smooth, 3D
  HoverPixel = {6, 6};
  RenderTextBitmap(1, 50);
  EXPECT_EQ(Store.Image[1].Planes[1].size(), 2400u);
  EXPECT_NE(PlaneValues(1, 1), before);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x)
      if (x > 6 || y > 6) EXPECT_FLOAT_EQ(Store.Image[1].At(1, x, y), 50.0f) << x << "," << y;
  EXPECT_EQ(UndoLastStep(), 1);
  EXPECT_EQ(PlaneValues(1, 1), before);

  // The arrow through the tools' seam.
  ToolTargetSlot = 1;
  ArrowTail = {5, 20};
  ArrowHead = {50, 20};
  Settings.TextColour = 0x0000FF;
  TextArrowStamping.DrawLineArrow();
  // The grey of red (76.5) over most of the shaft's middle pixel.
  EXPECT_NEAR(Store.Image[1].At(1, 25, 20), 76.5f, 1.5f);
  EXPECT_EQ(UndoList.size(), 1u);
}

TEST_F(TextStampCommandsTest, TextDialogOptionsAndCharacterChart) {
  Settings.Text = "Hallo";
  Settings.TextOptions = 165;
  Settings.TextTransparency = 50;
  EnsureDialogForm(21);
  TForm21* form = TextInsertDialog();
  ASSERT_TRUE(form);
  QTimer::singleShot(0, [form] {
    EXPECT_EQ(form->Edit1->text(), "Hallo");
    EXPECT_TRUE(form->CheckBox1->isChecked());
    EXPECT_TRUE(form->CheckBox3->isChecked());
    EXPECT_FALSE(form->CheckBox2->isChecked());
    form->Edit1->setCursorPosition(5);
    // The cell of code 0xE4 (row 7, column 4) inserts "ä", 0x80 the euro sign.
    const QPoint cell(4 * form->CellWidth() + 10, form->ChartTop() + 7 * form->CellHeight() + 3);
    EXPECT_EQ(form->CodeAt(cell), 0xE4);
    form->InsertCode(form->CodeAt(cell));
    form->InsertCode(0x80);
    form->CheckBox2->setChecked(true);
    form->Edit2->setText("30");
    form->OkButton->click();
  });
  EXPECT_TRUE(TextArrowStamping.AskText());
  EXPECT_EQ(Settings.Text, "Hallo\u00E4\u20AC ");
  EXPECT_EQ(Settings.TextOptions, 165 | 2);
  EXPECT_EQ(Settings.TextTransparency, 30);
  QTimer::singleShot(0, [form] { form->CancelButton->click(); });
  EXPECT_FALSE(TextArrowStamping.AskText());
}

}  // namespace
}  // namespace astrelon::test
