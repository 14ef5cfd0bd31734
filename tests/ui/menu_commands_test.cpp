#include "shell/ui/menu/menu_commands.h"

#include <stdexcept>

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include "common/engine_ui.h"

namespace astrelon {
namespace {

TEST(MenuCommands, ItemsRunTheHandlerOfTheirNameAndThrownErrorsBecomeMessages) {
  TEngineUi ui;
  SetEngineUi(&ui);
  QMenu menu;
  QAction* item = menu.addAction("&Test");
  item->setObjectName("TestItem1");
  QAction* other = menu.addAction("Ohne");
  other->setObjectName("OhneHandler1");
  ConnectMenuCommands(&menu);
  ConnectMenuCommands(&menu);  // a second call connects nothing twice

  int runs = 0;
  QAction* seen = nullptr;
  // Registered after the menu was built: found when triggered.
  RegisterMenuCommand("TestItem1", [&](QAction* sender) { ++runs, seen = sender; });
  item->trigger();
  other->trigger();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(seen, item);
  EXPECT_FALSE(RunMenuCommand("OhneHandler1"));

  RegisterMenuCommand("TestItem1", [](QAction*) { throw std::runtime_error("kaputt"); });
  EXPECT_TRUE(RunMenuCommand("TestItem1"));
  ASSERT_EQ(ui.Messages.size(), 1u);
  EXPECT_EQ(ui.Messages[0], "Fehler: kaputt");
  SetEngineUi(nullptr);
}

}  // namespace
}  // namespace astrelon
