#include "registration/ui/master_frame_commands.h"

#include "registration/ui/master_dialog.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon {

void RegisterMasterFrameCommands() {
  RegisterMenuCommand("Masterdarkflaterstellen1", [](QAction*) {
    MultifocusMode = false;
    ShowMasterDialog();
  });
  RegisterMenuCommand("Multifokus1", [](QAction*) {
    MultifocusMode = true;
    ShowMasterDialog();
  });
  // The File menu keeps the batch tools disabled while the dialog is shown.
  static bool chained = false;
  if (chained) return;
  chained = true;
  TMainWindowLink& link = MainLink();
  link.BatchToolShown = [previous = link.BatchToolShown] {
    return MasterDialogShown() || (previous && previous());
  };
}

}  // namespace astrelon
