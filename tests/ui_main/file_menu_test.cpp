// The File menu's enabling on opening and the launcher items that show once
// their dialog exists.
#include <QAction>
#include <QApplication>
#include <QMdiArea>
#include <QMenu>
#include <functional>
#include <memory>

#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "core/language.h"
#include "pixelops/ui/tool_launch_commands.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/main_commands.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/image_window_state.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

class FileMenuTest : public ::testing::Test {
protected:
  void SetUp() override {
    Store.Reset();
    ResetImageWindowState();
    RegisterMainWindowCommands();
    for (const char* name : {"Batchprocessing1", "Masterdarkflaterstellen1", "KTBildRegistrierung1", "FileCloseItem"})
      RegisterMenuCommand(name, [](QAction*) {});
    savedToolShown_ = MainLink().BatchToolShown;
    main_ = std::make_unique<TMainForm>(std::vector<std::string>{});
    main_->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    OperationRunning = 0;
    BatchRunning = 0;
    SlotPair = {};
    MainLink().BatchToolShown = savedToolShown_;
    RegisterDialogForm(WaveletFilterForm, nullptr);
    main_->MdiArea->closeAllSubWindows();
    QApplication::processEvents();
    main_.reset();
    QApplication::processEvents();
    Store.Reset();
  }
  void Open(int slot) {
    TImageSlot& im = Store.Image[size_t(slot)];
    im.Width = 8;
    im.Height = 6;
    im.PlaneCount = 1;
    im.Planes[1].assign(48, 1.0f);
    Store.InUse[size_t(slot)] = 1;
    Store.FileName[size_t(slot)] = "/data/bild_" + std::to_string(slot) + ".fit";
    MakeDefaultHeader(slot);
    ResetDisplayRange(slot, 0);
    ShowImageWindow(slot);
    Activate(slot);
  }
  void Activate(int slot) {
    main_->MdiArea->setActiveSubWindow(ImageWindow(slot));
    QApplication::processEvents();
  }
  static bool FileItemEnabled(const char* name) {
    emit MainTopMenu(0)->aboutToShow();
    return MainMenuItem(name)->isEnabled();
  }
  static bool ToolsEnabled() {
    bool any = false, all = true;
    // (The registration item is hidden until unlocked, and a hidden item reads as disabled.)
    for (const char* name : {"Batchprocessing1", "Masterdarkflaterstellen1"}) {
      const bool e = FileItemEnabled(name);
      any = any || e;
      all = all && e;
    }
    EXPECT_EQ(any, all);
    return all;
  }
  std::unique_ptr<TMainForm> main_;
  std::function<bool()> savedToolShown_;
};

TEST_F(FileMenuTest, ToolsAndRecentFunctionsFollowTheProgramState) {
  EXPECT_TRUE(ToolsEnabled());
  BatchRunning = 1;
  EXPECT_FALSE(ToolsEnabled());
  BatchRunning = 0;
  OperationRunning = 1;
  EXPECT_FALSE(ToolsEnabled());
  OperationRunning = 0;
  MainLink().BatchToolShown = [] { return true; };
  EXPECT_FALSE(ToolsEnabled());
  MainLink().BatchToolShown = [] { return false; };
  EXPECT_TRUE(ToolsEnabled());

  RecentFunctionsMenu()->clear();
  EXPECT_FALSE(FileItemEnabled("LetzteFunktionen1"));
  QAction item("Bild nach RGB erweitern");
  AddRecentFunction(&item);
  EXPECT_TRUE(FileItemEnabled("LetzteFunktionen1"));
}

TEST_F(FileMenuTest, CloseIsDisabledForTheWindowsOfARunningOperation) {
  Open(1);
  Open(2);
  SlotPair = {1, -1};
  OperationRunning = 1;
  Activate(1);
  EXPECT_FALSE(FileItemEnabled("FileCloseItem"));
  Activate(2);
  EXPECT_TRUE(FileItemEnabled("FileCloseItem"));
  OperationRunning = 0;
  Activate(1);
  EXPECT_TRUE(FileItemEnabled("FileCloseItem"));
}

TEST_F(FileMenuTest, LauncherItemsShowOnceTheirDialogIsRegistered) {
  RegisterToolLaunchCommands();
  RefreshMenuVisibility();
  EXPECT_FALSE(MainMenuItem("WaveletFilter1")->isVisible());
  EXPECT_TRUE(MainMenuItem("CIELABHelligkeitKontrast1")->isVisible());
  RegisterDialogForm(WaveletFilterForm, [] { return new QWidget; });
  EXPECT_TRUE(MainMenuItem("WaveletFilter1")->isVisible());
  RegisterDialogForm(WaveletFilterForm, nullptr);
  RefreshMenuVisibility();
  EXPECT_FALSE(MainMenuItem("WaveletFilter1")->isVisible());
}

}  // namespace
}  // namespace astrelon
