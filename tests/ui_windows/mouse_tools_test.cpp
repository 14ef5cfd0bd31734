// The mouse tools on real image windows: a copy-stamp stroke dragged over a
// window and undone, the stamp's pick and press, and the line tool with its
// instruction window and the line profile.
#include <QLabel>
#include <QTest>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

#include "shell/main/main_services.h"
#include "shell/stamps/copy_stamp.h"
#include "shell/stamps/line_marking.h"
#include "shell/stamps/stamp_blend.h"
#include "shell/stamps/stamp_size.h"
#include "shell/stars/star_pick.h"
#include "shell/ui/dialogs/line_profile_window.h"
#include "shell/ui/dialogs/line_prompt.h"
#include "shell/ui/main/main_status_bar.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/side_panel/star_panel.h"
#include "shell/ui/windows/guide_lines.h"
#include "shell/ui/windows/mouse_tools.h"
#include "shell/undo/undo_store.h"
#include "window_fixture.h"

namespace astrelon {
namespace {

class MouseToolTest : public test::WindowTest {
protected:
  void SetUp() override {
    test::WindowTest::SetUp();
    static const bool registered = [] {
      RegisterMouseToolCommands();
      return true;
    }();
    (void)registered;
    ClearUndoStore();
    ClearLineMarking();
    LinePrompt = {};
    PanelCutout = {};
  }
  void TearDown() override {
    SetInfoPanelMode(1);
    CloseLineProfileWindow();
    if (TForm20* prompt = LinePromptWindow()) prompt->close();
    QApplication::processEvents();
    ClearUndoStore();
    test::WindowTest::TearDown();
  }
  static void RightClick(TMDIChild* w, QPoint pos) {
    Mouse(w, QEvent::MouseButtonPress, pos, Qt::RightButton, Qt::RightButton);
    Mouse(w, QEvent::MouseButtonRelease, pos, Qt::RightButton, Qt::NoButton);
  }
  static float Pixel(int slot, int x, int y) { return Store.Image[slot].At(1, x, y); }
};

TEST_F(MouseToolTest, CopyStampStrokeChangesTheImageAndUndoGivesItBack) {
  TMDIChild* w = Open(1, 60, 40);
  ASSERT_NE(w, nullptr);
  const auto before = test::PlaneValues(1, 1);
  SetInfoPanelMode(7);
  StampRadiusSquared = StampRadiusSquaredOf(5);  // 9: radius 3
  RightClick(w, {5, 5});
  EXPECT_EQ(CopySourceSlot, 1);
  EXPECT_TRUE(w->Overlay().Image2.Visible);
  Mouse(w, QEvent::MouseButtonPress, {30, 20}, Qt::LeftButton, Qt::LeftButton);
  Mouse(w, QEvent::MouseMove, {35, 20}, Qt::NoButton, Qt::LeftButton);
  Mouse(w, QEvent::MouseMove, {40, 22}, Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(w->Image1->ToolLayer.Trail.size(), 3u);
  Mouse(w, QEvent::MouseButtonRelease, {40, 22}, Qt::LeftButton, Qt::NoButton);
  EXPECT_TRUE(w->Image1->ToolLayer.Trail.empty());

  // Paste from (x - 25, y - 15) with the largest weight of the walked stroke.
  const auto positions = StampPositions(std::vector<TPointI>{{30, 20}, {35, 20}, {40, 22}});
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x) {
      float best = 0;
      for (const TPointI& c : positions) {
        const int d2 = (x - c.X) * (x - c.X) + (y - c.Y) * (y - c.Y);
        if (d2 < 9) best = std::max(best, StampWeight(d2, 9));
      }
      const float t = before[size_t(y * 60 + x)];
      const float s = float((x - 25) + 2 * (y - 15));
      ASSERT_FLOAT_EQ(Pixel(1, x, y), best > 0 ? (s - t) * best + t : t) << x << "," << y;
    }
  EXPECT_EQ(UndoLastStep(), 1);
  EXPECT_EQ(test::PlaneValues(1, 1), before);
}

TEST_F(MouseToolTest, ClosedSourceIsNoSourceAndStampNeedsAPick) {
  TMDIChild* w = Open(1, 30, 30);
  TMDIChild* other = Open(2, 30, 30);
  SetInfoPanelMode(7);
  RightClick(other, {5, 5});
  EXPECT_EQ(CopySourceSlot, 2);
  other->close();
  QApplication::processEvents();
  EXPECT_EQ(CopySourceSlot, -1);
  Drag(w, {10, 10}, {15, 10});
  EXPECT_TRUE(UndoList.empty());

  SetInfoPanelMode(3);
  StampRadiusSquared = StampRadiusSquaredOf(3);
  Click(w, {10, 10});  // no pick yet
  EXPECT_TRUE(UndoList.empty());
  RightClick(w, {4, 4});  // the source: pixel (4, 4) holds 12
  EXPECT_EQ(PanelCutout.Analysed, 1);
  EXPECT_FLOAT_EQ(PanelCutout.At(1, 15, 15), 12);
  Click(w, {20, 10});
  EXPECT_FLOAT_EQ(Pixel(1, 20, 10), 12);
  EXPECT_EQ(UndoList.size(), 1u);
}

TEST_F(MouseToolTest, LineProfileFromTheMenu) {
  TMDIChild* w = Open(1, 40, 30);
  ASSERT_TRUE(RunMenuCommand("BildliniealsDiagrammanzeigen1"));
  TForm20* prompt = LinePromptWindow();
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(prompt->Label1->text(), QString::fromUtf8("Bitte eine Linie im Bild einzeichnen, dann Ok drücken."));
  EXPECT_EQ(ToolMode, 6);
  EXPECT_FALSE(prompt->Button1->isEnabled());
  Click(w, {2, 3});
  Mouse(w, QEvent::MouseMove, {8, 5}, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(w->Image1->ToolLayer.Lines.size(), 1u);  // the rubber line
  Click(w, {12, 8});
  EXPECT_TRUE(prompt->Button1->isEnabled());
  prompt->Button1->click();
  QApplication::processEvents();
  EXPECT_EQ(ToolMode, 1);
  TForm26* profile = LineProfileWindow();
  ASSERT_NE(profile, nullptr);
  profile->resize(400, 250);
  profile->grab();  // paints, which samples
  EXPECT_TRUE(profile->Sampled);
  EXPECT_EQ(profile->Samples.Count, 10);
  EXPECT_TRUE(profile->Samples.Horizontal);
  EXPECT_FLOAT_EQ(profile->Samples.Planes[0][0], 2 + 2 * 3);

  // The colour model changed: the line is sampled anew.
  Store.Image[1].ColorModel = 1;
  profile->grab();
  EXPECT_EQ(profile->Samples.ColorModel, 1);
  Store.Image[1].ColorModel = 0;

  const int slot = profile->popup1Click();
  ASSERT_EQ(slot, 2);
  EXPECT_NE(Store.FileName[2].find("Grafik_1.png"), std::string::npos) << Store.FileName[2];
  EXPECT_EQ(Store.Image[2].Width, 400);
  for (int s = 3; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 1;
  EXPECT_EQ(profile->popup1Click(), -1);
  for (int s = 3; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 0;

  CloseLineProfileWindow();
  QApplication::processEvents();
  EXPECT_EQ(LineMarking.Slot, -1);
  EXPECT_TRUE(w->Image1->ToolLayer.Lines.empty());
}

TEST_F(MouseToolTest, GuideLinesForTheGeometryCommands) {
  TMDIChild* w = Open(1, 40, 30);
  ASSERT_TRUE(MarkGuideLines);
  QTimer::singleShot(0, [w] {
    Click(w, {1, 2});
    Click(w, {30, 4});
    Click(w, {3, 20});
    Click(w, {28, 25});
    if (TForm20* prompt = LinePromptWindow()) prompt->Button1->click();
  });
  const auto lines = MarkGuideLines(2);
  ASSERT_TRUE(lines.has_value());
  ASSERT_EQ(lines->size(), 2u);
  EXPECT_EQ((*lines)[1].Left, 3);
  EXPECT_EQ((*lines)[1].Bottom, 25);
  EXPECT_EQ(ToolMode, 1);
  EXPECT_TRUE(w->Image1->ToolLayer.Lines.empty());
  QTimer::singleShot(0, [] {
    if (TForm20* prompt = LinePromptWindow()) prompt->Button2->click();
  });
  EXPECT_FALSE(MarkGuideLines(1).has_value());
}

TEST_F(MouseToolTest, PromptTextsAndCancel) {
  Open(1, 20, 20);
  const char* texts[] = {"Bitte eine schiefe Linie markieren, dann Ok drücken.",
                         "Bitte zwei gegenüberliegende schiefe Linien markieren, dann Ok drücken."};
  for (int mode = 1; mode <= 2; ++mode) {
    int closed = -1;
    ShowLinePrompt(mode, [&closed](bool ok) { closed = ok; });
    TForm20* prompt = LinePromptWindow();
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->Label1->text(), QString::fromUtf8(texts[mode - 1]));
    EXPECT_EQ(LinePrompt.LinesNeeded, mode);
    prompt->Button2->click();
    QApplication::processEvents();
    EXPECT_EQ(closed, 0);
  }
}

}  // namespace
}  // namespace astrelon

namespace astrelon {
namespace {

// The pixel text under the mouse in the main status bar's first panel: greyed
// at zooms whose pixels are resampled, its width following the text.
TEST_F(MouseToolTest, PixelTextIsGreyedAtResampledZooms) {
  TMainStatusBar bar;
  MainLink().ShowPixelText = [&bar](const QString& text, bool grey) { bar.ShowPixelText(text, grey); };
  TMDIChild* w = Open(1, 60, 40);
  TStatusPanel* panel = bar.Panels[0];
  const QColor greyText = panel->palette().color(QPalette::Disabled, QPalette::WindowText);
  struct Case {
    int zoom;
    bool grey;
  };
  for (const Case c : {Case{70, true}, Case{100, false}, Case{200, false}, Case{50, true}, Case{400, false}}) {
    Store.Display[1].ZoomPercent = c.zoom;
    Mouse(w, QEvent::MouseMove, {6, 4}, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(panel->Text.startsWith("X: ")) << c.zoom;
    EXPECT_EQ(panel->TextColour.isValid() ? panel->TextColour : QColor(), c.grey ? greyText : QColor()) << c.zoom;
    const int textWidth = QFontMetrics(panel->font()).horizontalAdvance(panel->Text);
    EXPECT_EQ(panel->width(), PixelTextPanelWidth(textWidth, panel->logicalDpiX())) << c.zoom;
  }
  MainLink().ShowPixelText = nullptr;
}

// The line prompt shows its whole instruction, opens beside the image window and
// takes Return as "Ok" once the line is marked.
TEST_F(MouseToolTest, LinePromptFitsItsTextBesideTheImageAndTakesReturn) {
  TMDIChild* w = Open(1, 40, 30);
  ShowLinePrompt(2, {});  // two lines: the longest instruction
  TForm20* prompt = LinePromptWindow();
  ASSERT_NE(prompt, nullptr);
  QApplication::processEvents();
  QLabel* label = prompt->Label1;
  EXPECT_GE(label->height(), label->heightForWidth(label->width()));
  EXPECT_GE(prompt->width(), 277);
  EXPECT_TRUE(prompt->Button1->isDefault());
  const QRect image(w->mapToGlobal(QPoint(0, 0)), w->size());
  EXPECT_FALSE(prompt->frameGeometry().intersects(image));
  EXPECT_LE(std::abs(prompt->frameGeometry().top() - image.top()), 40);
  prompt->close();
  QApplication::processEvents();

  ASSERT_TRUE(RunMenuCommand("BildliniealsDiagrammanzeigen1"));
  prompt = LinePromptWindow();
  ASSERT_NE(prompt, nullptr);
  QTest::keyClick(prompt, Qt::Key_Return);  // no line yet: nothing
  EXPECT_EQ(LinePromptWindow(), prompt);
  EXPECT_EQ(LinePrompt.OkPressed, 0);
  EnableLinePromptOk();
  QTest::keyClick(prompt, Qt::Key_Return);
  EXPECT_EQ(LinePrompt.OkPressed, 1);
}

}  // namespace
}  // namespace astrelon
