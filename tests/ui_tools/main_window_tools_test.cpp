// The header editor and the settings dialog inside the real main window.
#include <QAction>
#include <QApplication>
#include <QTimer>
#include <memory>

#include "app/startup.h"
#include "core/language.h"
#include "core/settings.h"
#include "shell/ui/header/header_window.h"
#include "shell/ui/main/main_window.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/settings/settings_dialog.h"
#include "shell/ui/tool_bar/main_tool_bar.h"
#include "shell/ui/tool_bar/picture_button.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

TEST(MainWindowTools, HeaderAndSettingsOpenFromMenuAndToolBar) {
  const test::ConfigHome home;
  const test::TempDir languages;
  LanguageSearchFolders = {languages.path().string()};
  Store.Reset();
  {
    TMainForm main(std::vector<std::string>{});
    main.show();
    QApplication::processEvents();
    TForm3* header = HeaderWindow();
    ASSERT_NE(header, nullptr);
    EXPECT_FALSE(header->isVisible());
    QAction* item = MainMenuItem("FitsHeader1");
    ASSERT_TRUE(RunMenuCommand("FitsHeader1"));
    EXPECT_TRUE(item->isChecked());
    EXPECT_TRUE(header->isVisible());
    EXPECT_TRUE(header->Timer1->isActive());
    EXPECT_EQ(Settings.FitsHeaderChecked, 1);
    // The window's own close unchecks the item; the tool-bar button shows it again.
    header->close();
    EXPECT_FALSE(item->isChecked());
    EXPECT_EQ(Settings.FitsHeaderChecked, 0);
    emit main.ToolBar1->PNGButton[11]->leftPressed();
    EXPECT_TRUE(header->isVisible());

    ASSERT_TRUE(RunMenuCommand("Einstellungen1"));
    ASSERT_NE(SettingsDialog(), nullptr);
    EXPECT_TRUE(SettingsDialog()->isVisible());
    main.close();
  }
  QApplication::processEvents();
  LanguageSearchFolders.clear();
  Store.Reset();
}

}  // namespace
}  // namespace astrelon
