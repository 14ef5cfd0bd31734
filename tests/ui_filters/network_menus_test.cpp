// The network commands' menu items are disabled and enabled together, and the
// other items stay as they were.
#include <QAction>
#include <QMainWindow>
#include <QMenuBar>

#include "filters/ui/network/network_menus.h"
#include "shell/ui/menu/main_menu.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

TEST(NetworkMenus, DisableAndEnableEveryNetworkItem) {
  QMainWindow window;
  BuildMainMenu(window.menuBar(), &window);
  // Items whose commands are not registered here are hidden, which also
  // disables them: show them all.
  for (const char* name : NetworkMenuItems) {
    ASSERT_NE(MainMenuItem(name), nullptr) << name;
    MainMenuItem(name)->setVisible(true);
  }
  QAction* other = MainMenuItem("Bildgrex2smart31");
  ASSERT_NE(other, nullptr);
  other->setVisible(true);
  ASSERT_TRUE(other->isEnabled());
  DisableNetworkMenus();
  for (const char* name : NetworkMenuItems) EXPECT_FALSE(MainMenuItem(name)->isEnabled()) << name;
  EXPECT_TRUE(other->isEnabled());
  EnableNetworkMenus();
  for (const char* name : NetworkMenuItems) EXPECT_TRUE(MainMenuItem(name)->isEnabled()) << name;
}

}  // namespace
}  // namespace astrelon::test
