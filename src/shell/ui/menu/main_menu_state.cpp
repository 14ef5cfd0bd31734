#include "shell/ui/menu/main_menu_state.h"

#include <QAction>
#include <QCoreApplication>
#include <QMdiArea>
#include <QMenu>
#include <QThread>
#include <QToolButton>

#include "core/batch_state.h"
#include "core/settings.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/main/main_window_marks.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/tool_bar/main_tool_bar.h"
#include "shell/ui/tool_bar/picture_button.h"
#include "store/image_store.h"
#include "store/slot_holds.h"

namespace astrelon {

namespace {

void Enable(const char* name, bool enabled) {
  if (QAction* a = MainMenuItem(QString::fromLatin1(name))) a->setEnabled(enabled);
}

void EnableAll(std::initializer_list<const char*> names, bool enabled) {
  for (const char* n : names) Enable(n, enabled);
}

// Every item of a menu and of its submenus.
void EnableMenuTree(QMenu* menu, bool enabled) {
  if (!menu) return;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) continue;
    a->setEnabled(enabled);
    if (a->menu()) EnableMenuTree(a->menu(), enabled);
  }
}

}  // namespace

void UpdateMenuState() {
  TMainWindowLink& link = MainLink();
  const int windows = link.MdiArea ? int(link.MdiArea->subWindowList().size()) : 0;
  const int active = FindActiveSlot();
  const bool filterShown = link.FilterDialogVisible && link.FilterDialogVisible();
  // Workers that hold slots count as a running operation: image commands wait.
  const bool idle = !filterShown && !OperationRunning && !AnySlotHeldByWorkers();
  const bool f = windows > 0 && idle;
  const bool f2 = windows > 1 && idle;
  TMainToolBar* bar = link.ToolBar;

  EnableAll({"WindowCascadeItem", "WindowTileItem", "bereinander1", "AufBildgre1"}, windows > 0);
  if (bar) {
    const bool lists = windows > 0 && !link.ColourListsLocked;
    bar->RxSpeedButton[2]->setEnabled(lists);
    bar->RxSpeedButton[3]->setEnabled(lists && bar->RxSpeedButton[2]->property("Tag").toInt() == 3);
  }
  EnableAll({"Masterdarkflaterstellen1", "KTBildRegistrierung1"}, !OperationRunning);
  Enable("Batchprocessing1", !BatchRunning);
  Enable("EigeneNNFilter1", f && !(link.TrainingPanelVisible && link.TrainingPanelVisible()));
  EnableAll({"AlleaufBildgre1", "WindowArrangeItem", "WindowMinimizeItem", "FileSaveAsItem", "Bildgeometrie1",
             "BildnachRGBerweitern1", "Pixelmathematik1", "FileCloseItem", "Schrfen1", "Video1", "Bildgrendern1",
             "Gltten1", "Erweitern1", "Ebnen1", "CCD1", "Spezial1", "FFT1", "WeitereFunktionen1"},
            f);
  if (bar) {
    for (int n = 2; n <= 7; ++n) bar->PNGButton[size_t(n)]->setEnabled(f);
    bar->PNGButton[8]->setEnabled(active > 0 && SlotInUse(active) && HasSingleMark(active) &&
                                  HasMenuCommand("Ausschneiden1") && !SlotBusy(active));
    bar->PNGButton[10]->setEnabled(HasMenuCommand("Histogramm1"));
    bar->PNGButton[11]->setEnabled(HasMenuCommand("FitsHeader1"));
  }

  if (QAction* combine = MainMenuItem("BilderKombinieren1")) EnableMenuTree(combine->menu(), f2);
  EnableAll({"N3swBilderzuRGB1", "N3swBilderzuYUVBild1"}, f2 && windows > 2);
  EnableAll({"blinken1", "Convolution1"}, f2);

  static const std::initializer_list<const char*> colourOnly = {
      "RGBzu3swBilder1",       "Farbenzurechtrcken1",        "BildvonXYZnachRGBwandeln1", "RGBBildnachswwandeln1",
      "RGBBildinswumwandelnLuminanz1", "Farbfunktionen1",     "FarbhfeumSterneverringern1", "Farbrauschenfiltern1",
      "Farbsttingungeinstellen1", "Farbkantenentfernen1",     "CIELABHelligkeitKontrast1",  "RGBzuBayerPattern1",
      "KameraRAWFarbennachRGB1", "Farbkorrektur1"};
  if (windows > 0 && active > -1 && idle) {
    const bool colour = SlotInUse(active) && Store.Image[size_t(active)].IsColor;
    EnableAll(colourOnly, colour);
    EnableAll({"FarbCCDzuRGBBild1", "BildnachRGBerweitern1"}, !colour);
  } else {
    EnableAll({"RGBzu3swBilder1", "Farbenzurechtrcken1", "RGBBildnachswwandeln1", "RGBBildinswumwandelnLuminanz1",
               "Farbrauschenfiltern1", "Farbkantenentfernen1", "FarbCCDzuRGBBild1", "Farbfunktionen1"},
              false);
  }

  QAction* network = MainMenuItem("EigeneNNFilter1");
  if (network && !network->isVisible() && !Settings.NetworkFolder.empty() && link.BuildNetworkFilterMenu) {
    try {
      link.BuildNetworkFilterMenu();
    } catch (...) {
    }
  }
  if (bar) bar->CloseDropDownLists(0);
  CallUpdateStatusBar();
}

void UpdateFileMenuOnOpen() {
  const bool toolsFree = !BatchRunning && !OperationRunning && !(MainLink().BatchToolShown && MainLink().BatchToolShown());
  EnableAll({"Batchprocessing1", "Masterdarkflaterstellen1", "KTBildRegistrierung1"}, toolsFree);
  Enable("LetzteFunktionen1", !RecentFunctionsMenu()->actions().isEmpty());
  // The active window cannot be closed while it is the source or the result of
  // a running interactive operation.
  const int active = FindActiveSlot();
  if (active > 0) Enable("FileCloseItem", !ActiveWindowInOperation(active));
}

bool ActiveWindowInOperation(int slot) { return SlotBusy(slot); }

void RefreshCommandEnabling() {
  // Operations started off the interface's thread leave the enabling alone.
  const QCoreApplication* app = QCoreApplication::instance();
  if (app && QThread::currentThread() == app->thread()) CallUpdateMenuItems();
}

}  // namespace astrelon
