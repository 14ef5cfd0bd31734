#include "shell/ui/windows/region_menu.h"

#include <QAction>
#include <QMenu>

#include "core/busy_cursor.h"
#include "core/language.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/pixel_menu/pixel_fills.h"
#include "shell/ui/dialogs/info_window.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/popup_window.h"
#include "shell/undo/undo_store.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"

namespace astrelon {

double LastFillValue = 0;

namespace {

// Captions translated by section 10 [3.15] .. [3.17], after the pixel menu's.
constexpr TPopupItem RegionMenuItems[] = {
    {"Markierungausblenden1", "&Markierung ausblenden", LangKey(10, 3, 15)},
    {"N5", nullptr},
    {"Werteauf01", "&Pixel im Bereich auf einen Wert setzen", LangKey(10, 3, 16)},
    {"N6", nullptr},
    {"StatistikfrdenBereichanzeigen1", "&Statistik für den Bereich anzeigen", LangKey(10, 3, 17)},
};

// The selection a region command works on (1 or 2); 0 for marks and markers.
int SelectionOf(const TMDIChild* w) { return w && (w->MenuTarget == 1 || w->MenuTarget == 2) ? w->MenuTarget : 0; }

// "Pixel im Bereich auf einen Wert setzen": every pixel of the selection in every
// plane gets the typed value (-1e11 makes it transparent), with an undo entry.
void FillRegionCommand(QAction* sender) {
  TMDIChild* w = PopupWindow(sender);
  if (!w || !SlotInUse(w->Tag) || SelectionOf(w) == 0) return;
  const int slot = w->Tag;
  const auto value = AskNumber("Eingabe", "Wert: (-1e11 = Transparenz)", LastFillValue, TNumberKind::Float);
  if (!value) return;
  TBusyCursorScope busy;
  SetWorkRectFromWindow(slot, SelectionOf(w), false);
  PushUndo(slot, WorkRect.x1, WorkRect.x2, WorkRect.y1, WorkRect.y2);
  FillWorkRectWithValue(slot, float(value->Value));
  ComputeHistogram(slot, false, true);
  ImageChanged(slot);
  RefreshHistogramWindow();
}

void RegionStatisticsCommand(QAction* sender) {
  TMDIChild* w = PopupWindow(sender);
  if (!w || !SlotInUse(w->Tag)) return;
  TBusyCursorScope busy;
  SetWorkRectFromWindow(w->Tag, w->MenuTarget == 2 ? 2 : 1, false);
  ShowRegionStatistics(w->Tag);
}

}  // namespace

QMenu* RegionMenu(TMDIChild& window) { return WindowPopupMenu(window, "PopupMenu2", RegionMenuItems); }

void OpenRegionMenu(TMDIChild& window, QPoint globalPos, bool forMark) {
  QMenu* menu = RegionMenu(window);
  for (const char* name : {"N5", "Werteauf01", "N6", "StatistikfrdenBereichanzeigen1"})
    ShowMenuItem(menu, name, !forMark);
  window.PopupPoint = globalPos;
  SetPopupWindow(&window);
  menu->popup(globalPos);
}

void RegisterRegionMenuCommands() {
  RegisterMenuCommand("Markierungausblenden1", [](QAction* sender) {
    if (TMDIChild* w = PopupWindow(sender)) w->HideMenuTarget();
  });
  RegisterMenuCommand("Werteauf01", FillRegionCommand);
  RegisterMenuCommand("StatistikfrdenBereichanzeigen1", RegionStatisticsCommand);
}

}  // namespace astrelon
