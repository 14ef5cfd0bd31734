#include "shell/ui/windows/image_window_commands.h"

#include <QToolButton>

#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/side_panel/side_panel.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/pixel_menu.h"
#include "shell/ui/windows/region_menu.h"
#include "shell/undo/undo_store.h"

namespace astrelon {

void RegisterImageWindowCommands() {
  RegisterPixelMenuCommands();
  RegisterRegionMenuCommands();
  TMDIChild::PixelMenuHook = [](TMDIChild& w, QPoint pos) { OpenPixelMenu(w, pos); };
  TMDIChild::RegionMenuHook = [](TMDIChild& w, QPoint pos, bool forMark) { OpenRegionMenu(w, pos, forMark); };
  MainLink().UndoLastStep = [] {
    if (const int slot = UndoLastStep(); slot >= 1) ImageChanged(slot);
  };
  UndoButtonHook = [](bool enabled) {
    if (TSidePanel* panel = MainLink().Panel) panel->SpeedButton3->setEnabled(enabled);
  };
}

}  // namespace astrelon
