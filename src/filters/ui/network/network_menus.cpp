#include "filters/ui/network/network_menus.h"

#include <QAction>

#include "shell/ui/menu/main_menu.h"

namespace astrelon {

namespace {

void SetNetworkMenus(bool enabled) {
  for (const char* name : NetworkMenuItems)
    if (QAction* item = MainMenuItem(QString::fromLatin1(name))) item->setEnabled(enabled);
}

}  // namespace

void EnableNetworkMenus() { SetNetworkMenus(true); }

void DisableNetworkMenus() { SetNetworkMenus(false); }

}  // namespace astrelon
