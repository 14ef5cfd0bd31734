// Commands issued while an operation's workers run: the field-distortion
// preview computes on worker threads while window events go on; the tool bar's
// in-place commands are disabled and refuse, and the two windows stay open.
#include <QAction>
#include <QApplication>
#include <QMdiArea>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>

#include "app/ui/program_commands.h"
#include "common/engine_ui.h"
#include "core/language.h"
#include "mid_run_commands.h"
#include "pixelops/ui/geometry/distortion_commands.h"
#include "pixelops/ui/geometry/field_distortion_dialog.h"
#include "pixelops/ui/pixels/pixel_arithmetic_commands.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/main_commands.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/tool_bar/main_tool_bar.h"
#include "shell/ui/tool_bar/picture_button.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/image_window_state.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

class OperationGuardTest : public ::testing::Test {
protected:
  void SetUp() override {
    Store.Reset();
    ResetImageWindowState();
    main_ = std::make_unique<TMainForm>(std::vector<std::string>{});
    SetEngineUi(&ui_);
    RegisterDistortionCommands();
    RegisterPixelArithmeticCommands();
    main_->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    if (auto* f = qobject_cast<TForm19*>(DialogForm(19)); f && f->isVisible()) f->Button2Click();
    main_->MdiArea->closeAllSubWindows();
    QApplication::processEvents();
    main_.reset();
    QApplication::processEvents();
    SetEngineUi(nullptr);
    OperationRunning = 0;
    AbortRequested = 0;
    SlotPair = {};
    Store.Reset();
  }
  // A w x h grey (or colour) image in a window, made the active one.
  void Open(int slot, int w, int h, bool colour = false) {
    TImageSlot& im = Store.Image[size_t(slot)];
    im.Width = w;
    im.Height = h;
    im.PlaneCount = colour ? 3 : 1;
    im.IsColor = colour;
    for (int p = 1; p <= im.PlaneCount; ++p) im.Planes[size_t(p)].resize(size_t(w) * size_t(h));
    for (int i = 0; i < w * h * im.PlaneCount; ++i)
      im.Planes[size_t(1 + i % im.PlaneCount)][size_t(i / im.PlaneCount)] = float(i % 97);
    Store.InUse[size_t(slot)] = 1;
    Store.FileName[size_t(slot)] = "/data/bild_" + std::to_string(slot) + ".fit";
    MakeDefaultHeader(slot);
    ResetDisplayRange(slot, 0);
    ShowImageWindow(slot);
    QApplication::processEvents();
    Activate(slot);
  }
  void Activate(int slot) {
    main_->MdiArea->setActiveSubWindow(ImageWindow(slot));
    QApplication::processEvents();
  }
  bool InPlaceButtonsEnabled() const {
    for (int n : {3, 4, 5, 6, 8})
      if (main_->ToolBar1->PNGButton[size_t(n)]->isEnabled()) return true;
    return false;
  }

  test::ConfigHome home_;
  TEngineUi ui_;
  std::unique_ptr<TMainForm> main_;
};

TEST_F(OperationGuardTest, InPlaceCommandsWhileTheDistortionPreviewComputes) {
  Open(1, 90, 60);
  QAction item("Bildfeld &Entzerrung");
  item.setObjectName("Kissenentzerrung1");
  RunMenuCommand("Kissenentzerrung1", &item);
  auto* form = qobject_cast<TForm19*>(DialogForm(19));
  ASSERT_TRUE(form && form->isVisible());
  ASSERT_TRUE(ImageWindow(2));
  // The running operation has already disabled the in-place buttons.
  EXPECT_FALSE(InPlaceButtonsEnabled());
  const test::SlotState source(1);

  // An edit computes the preview again; its rows run on workers while events go on.
  bool enabledMidRun = true;
  {
    test::GatedWorkers gate;
    test::MidRunCommand midRun([&] {
      enabledMidRun = InPlaceButtonsEnabled();
      for (int slot : {1, 2}) {
        Activate(slot);
        QTest::mousePress(main_->ToolBar1->PNGButton[5], Qt::LeftButton);
        RotateActiveImage();
        MirrorActiveImage();
        FlipActiveImage();
        InvertActiveImage();
        RunMenuCommand("Ausschneiden1");
        ImageWindow(slot)->close();
        CloseImageSlot(slot);
      }
    });
    SetEngineUi(&midRun);
    form->Timer1->stop();
    form->Edit[3]->setText("1.02");
    form->Timer1Timer();
    SetEngineUi(&ui_);
    EXPECT_TRUE(midRun.Issued());
  }
  EXPECT_FALSE(enabledMidRun);
  ASSERT_TRUE(ImageWindow(1) && ImageWindow(2));
  EXPECT_TRUE(test::SlotState(1) == source);
  EXPECT_EQ(Store.Image[2].Width, 90);
  EXPECT_EQ(Store.Image[2].Height, 60);
  EXPECT_FALSE(Store.InUse[3]);  // no cut-out

  // Ok ends the operation: the buttons come back and the result may be turned.
  form->Button1Click();
  QApplication::processEvents();
  Activate(2);
  EXPECT_TRUE(main_->ToolBar1->PNGButton[5]->isEnabled());
  RotateActiveImage();
  EXPECT_EQ(Store.Image[2].Width, 60);
}

// Escape and the close box end each dialog that holds a two-window operation as
// its cancel button does: the dialog goes, every command comes back, and the
// result window closes or stays as with the cancel button.
TEST_F(OperationGuardTest, EscapeAndTheCloseBoxActAsCancel) {
  RegisterProgramCommands();
  const std::pair<const char*, int> cases[] = {  // the command, its images (< 0: colour)
      {"Kissenentzerrung1", 1}, {"Gaussgltten1", 1}, {"WaveletFilter1", 1}, {"DDP1", 1},
      {"HintergrundebnenSterne21", 1}, {"Frequenzfilter1", 1}, {"N2DFrequenzfilter1", 1}, {"Farbkorrektur1", -1},
      {"FarbCCDzuRGBBild1", 1}, {"FFTpsfschaerfen1", 1}, {"BildaddierenmitmanuellerVerschiebung1", 2},
      {"BildliniealsDiagrammanzeigen1", 1}, {"objectRauschenhinzufgen11TMenuItem1", 1}};
  const auto tools = [this] {
    std::set<QWidget*> shown;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w != main_.get() && w->isVisible() && !qobject_cast<QMenu*>(w)) shown.insert(w);
    return shown;
  };
  for (const auto& c : cases) {
    std::vector<int> windowsAfterCancel;
    for (int end = 0; end < 3; ++end) {  // the cancel button, Escape, the close box
      SCOPED_TRACE(std::string(c.first) + " ended by way " + std::to_string(end));
      for (int s = 1; s <= std::abs(c.second); ++s) Open(s, 40, 30, c.second < 0);
      const std::set<QWidget*> before = tools();
      RunMenuCommand(c.first, MainMenuItem(c.first));
      std::vector<QWidget*> shown;
      std::ranges::set_difference(tools(), before, std::back_inserter(shown));
      ASSERT_EQ(shown.size(), 1u);
      const QPointer<QWidget> dialog = shown[0];
      ASSERT_TRUE(OperationRunning || !MainMenuItem("FileSaveAsItem")->isEnabled());  // the dialog holds them
      if (end == 0) {
        const QStringList captions{"Abbruch", "Abbrechen", "Fenster zu"};
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
          if (b->window() == dialog && captions.contains(b->text().remove('&'))) b->click();
      } else if (end == 1) {
        QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog.data(), Qt::Key_Escape);
      } else {
        dialog->close();
      }
      for (int i = 0; i < 400 && dialog && dialog->isVisible(); ++i) QTest::qWait(5);  // a preview ends first
      EXPECT_TRUE(!dialog || !dialog->isVisible());
      EXPECT_FALSE(OperationRunning);
      for (const char* item : {"FileCloseItem", "FileSaveAsItem", "Batchprocessing1", "Masterdarkflaterstellen1",
                               "Bildgeometrie1", "WeitereFunktionen1"})
        EXPECT_TRUE(MainMenuItem(item)->isEnabled()) << item;
      std::vector<int> windows;
      for (int s = 1; s <= MaxImageSlots; ++s)
        if (SlotInUse(s)) windows.push_back(ImageWindow(s) ? s : -s);  // -s: a slot no window shows
      if (end == 0) windowsAfterCancel = windows;
      EXPECT_EQ(windows, windowsAfterCancel);
      if (dialog) dialog->hide();  // one that failed to go, so that the next case can run
      OperationRunning = 0;
      main_->MdiArea->closeAllSubWindows();
      QApplication::processEvents();
    }
  }
}

}  // namespace
}  // namespace astrelon
