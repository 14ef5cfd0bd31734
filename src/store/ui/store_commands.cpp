#include "store/ui/store_commands.h"

#include <QMainWindow>

#include "shell/ui/main/main_window_link.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/ui/file_menu.h"
#include "store/ui/raw_format_editor.h"

namespace astrelon {

void RegisterStoreCommands() {
  RegisterMenuCommand("FileOpenItem", [](QAction*) { FileOpenItemClick(MainLink().Window); });
  RegisterMenuCommand("FileCloseItem", [](QAction*) { FileCloseItemClick(); });
  RegisterMenuCommand("FileSaveAsItem", [](QAction*) { FileSaveItemClick(MainLink().Window); });
  RegisterRawFormatEditor();
  RegisterMenuCommand("RAWFormaterstellen1", [](QAction*) { RAWFormaterstellen1Click(); });
}

}  // namespace astrelon
