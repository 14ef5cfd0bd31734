// Commands issued while an operation's workers run: the field-distortion
// preview computes on worker threads while window events go on; the tool bar's
// in-place commands are disabled and refuse, and the two windows stay open.
#include <QAction>
#include <QApplication>
#include <QMdiArea>
#include <QTest>
#include <memory>

#include "common/engine_ui.h"
#include "core/language.h"
#include "mid_run_commands.h"
#include "pixelops/ui/geometry/distortion_commands.h"
#include "pixelops/ui/geometry/field_distortion_dialog.h"
#include "pixelops/ui/pixels/pixel_arithmetic_commands.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window.h"
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
  // A w x h grey image in a window, made the active one.
  void Open(int slot, int w, int h) {
    TImageSlot& im = Store.Image[size_t(slot)];
    im.Width = w;
    im.Height = h;
    im.PlaneCount = 1;
    im.IsColor = 0;
    im.Planes[1].resize(size_t(w) * size_t(h));
    for (int i = 0; i < w * h; ++i) im.Planes[1][size_t(i)] = float(i % 97);
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

}  // namespace
}  // namespace astrelon
