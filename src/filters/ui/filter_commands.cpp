#include "filters/ui/filter_commands.h"

#include <QAction>
#include <QApplication>
#include <utility>

#include "common/engine_ui.h"
#include "core/funktion_defs.h"
#include "core/language.h"
#include "filters/dialog/filter_functions.h"
#include "filters/dialog/filter_state.h"
#include "filters/dialog/noise_filter_functions.h"
#include "filters/ui/enlargement_commands.h"
#include "filters/ui/ddp_dialog.h"
#include "filters/ui/shift_commands.h"
#include "filters/ui/filter_dialog.h"
#include "filters/ui/hif_enlargement_commands.h"
#include "filters/ui/network/network_commands.h"
#include "filters/ui/psf_sharpen_start.h"
#include "shell/main/main_services.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_marks.h"
#include "shell/ui/main/preview_partners.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/image_window_state.h"
#include "store/load_messages.h"

namespace astrelon {

namespace {

// Menu items of the functions started through AllgemeinerFunktionsStart.
constexpr std::pair<const char*, int> FilterMenuItems[] = {
    {"Unsmear1", 1},
    {"Hintergrundebnen1", 2},
    {"Gaussschrfen1", 3},
    {"Gaussgltten1", 5},
    {"UnscharfeMaskierung1", 6},
    {"Farbsttingungeinstellen1", 7},
    {"Sternradiusverkleinern1", 8},
    {"IterativesGaussschrfen1", 10},
    {"Deinterlace1", 13},
    {"Zeilengleichhell1", 15},
    {"Strichspuraufnahmezurckrechnen1", 21},
    // The noise filters.
    {"MedianFilter1", 4},
    {"Farbrauschenfiltern1", 12},
    {"Medianfilter2", 14},
    {"NTdenoise1", 20},
    {"FarbhfeumSterneverringern1", 18},
};

}  // namespace

bool OpenFilterResult() {
  TForm1* form = FilterDialog();
  if (!form || form->isVisible()) return false;
  if (FindActiveSlot() < 1) return false;
  if (FindFreeSlot() < 1) {
    EngineUi().ShowMessage(TooManyImagesText());
    return false;
  }
  if (!NewResultSlot()) return false;
  ShowImageWindow(SlotPair.Destination);
  return true;
}

void AllgemeinerFunktionsStart(QAction* sender, int nr) {
  // The function is the item's tag (also on its copy in "Letzte Funktionen").
  if (const int tag = MenuItemTag(sender); tag > 0) nr = tag;
  if (nr < 1 || nr > FunktionCount || !OpenFilterResult()) return;
  const int src = SlotPair.Source, dst = SlotPair.Destination;
  FunktionNr = nr;
  if (nr != 2) CopyMarksToWindow(src, dst);
  if (nr == 3 || nr == 5 || nr == 10 || nr == 21) InvalidateFilterBlur();
  if (const TFilterFunktion* f = FindFilterFunktion(nr); f && f->Started && !f->Started(src, dst)) {
    CloseImageSlot(dst);
    SlotPair = {};
    return;
  }
  ShowFilterDialog(sender, nr);
}

void ShowFilterDialog(QAction* sender, int nr) {
  ShowFilterDialog(sender, nr,
                   sender ? QString::fromStdString(StripAccelerators(sender->text().toStdString()))
                          : QString::fromStdString(FunktionDefTable[size_t(nr)].Name));
}

void ShowFilterDialog(QAction* sender, int nr, const QString& caption) {
  TForm1* form = FilterDialog();
  if (!form) return;
  form->setWindowTitle(caption);
  form->show();
  form->FormShow();
  if (sender) AddRecentFunction(sender);
}

void RegisterFilterCommands() {
  for (const auto& [name, nr] : FilterMenuItems) {
    const int n = nr;
    RegisterMenuCommand(name, [n](QAction* sender) { AllgemeinerFunktionsStart(sender, n); });
  }
  RegisterMenuCommand("IterativesPSFschrfennichtlinear1", IterativesPSFschrfennichtlinear1Click);
  RegisterNetworkCommands();
  RegisterEnlargementCommands();
  RegisterShiftCommands();
  RegisterDdpCommands();
  RegisterHiFEnlargementCommands();
  // The image windows tell the dialog about selections drawn, moved or hidden.
  auto previous = std::move(TMDIChild::SelectionChangedHook);
  TMDIChild::SelectionChangedHook = [previous](TMDIChild& w, int kind) {
    if (previous) previous(w, kind);
    if (TForm1* form = qobject_cast<TForm1*>(DialogForm(1))) form->SelectionChanged();
  };
  // The dialog exists from the start (the main window's menu states read its visibility).
  if (QApplication::instance()) FilterDialog();
  // The source and the result follow each other's colour model and channel selection.
  TPreviewPartner partner = DialogPartner<TForm1>([] { return qobject_cast<TForm1*>(DialogForm(1)); });
  partner.UsesLockedStar = [] { return ToolMode == 2; };
  RegisterPreviewPartner(1, std::move(partner));
  // A changed colour model or channel selection prepares the NLM planes anew.
  static bool panelHooked = false;
  if (panelHooked) return;
  panelHooked = true;
  auto previousPanel = std::move(InfoPanelUpdatedHook);
  InfoPanelUpdatedHook = [previousPanel](int slot) {
    if (previousPanel) previousPanel(slot);
    NlmSlotChanged(slot);
  };
}

}  // namespace astrelon
