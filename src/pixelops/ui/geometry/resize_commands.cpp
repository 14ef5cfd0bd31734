#include "pixelops/ui/geometry/resize_commands.h"

#include "pixelops/ui/geometry/resize_dialog.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/image_store.h"

namespace astrelon {

void RegisterResizeCommands() {
  // "Bildgröße ändern": the dialog works on the active image.
  RegisterMenuCommand("Bildgrendern1", [](QAction* sender) {
    const int slot = FindActiveSlot();
    if (slot < 1) return;
    if (sender) AddRecentFunction(sender);
    TForm8* dialog = ResizeDialog();
    dialog->SetSource(slot);
    if (dialog->isVisible()) dialog->FormShow();
    dialog->show();
    dialog->raise();
  });
}

}  // namespace astrelon
