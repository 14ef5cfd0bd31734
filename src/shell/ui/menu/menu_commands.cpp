#include "shell/ui/menu/menu_commands.h"

#include <exception>
#include <map>
#include <new>
#include <string>

#include <QAction>
#include <QWidget>

#include "common/engine_ui.h"

namespace astrelon {

namespace {
std::map<QString, TMenuHandler>& Handlers() {
  static std::map<QString, TMenuHandler> handlers;
  return handlers;
}
std::map<QString, std::function<bool()>>& Conditions() {
  static std::map<QString, std::function<bool()>> conditions;
  return conditions;
}
std::function<void()>& ChangedHook() {
  static std::function<void()> hook;
  return hook;
}
}  // namespace

void RegisterMenuCommand(const QString& objectName, TMenuHandler handler) {
  Conditions().erase(objectName);
  Handlers()[objectName] = std::move(handler);
  if (ChangedHook()) ChangedHook()();
}

void RegisterMenuCommand(const QString& objectName, TMenuHandler handler, std::function<bool()> available) {
  Handlers()[objectName] = std::move(handler);
  if (available)
    Conditions()[objectName] = std::move(available);
  else
    Conditions().erase(objectName);
  if (ChangedHook()) ChangedHook()();
}

bool MenuCommandAvailable(const QString& objectName) {
  if (!HasMenuCommand(objectName)) return false;
  const auto found = Conditions().find(objectName);
  return found == Conditions().end() || found->second();
}

void SetMenuCommandsChangedHook(std::function<void()> hook) { ChangedHook() = std::move(hook); }

bool HasMenuCommand(const QString& objectName) { return Handlers().count(objectName) != 0; }

bool RunMenuCommand(const QString& objectName, QAction* sender) {
  const auto found = Handlers().find(objectName);
  if (found == Handlers().end() || !found->second) return false;
  if (!MenuCommandAvailable(objectName)) return true;
  try {
    found->second(sender);
  } catch (const std::bad_alloc&) {
    EngineUi().ShowMessage("Nicht genug Speicher");
  } catch (const std::exception& e) {
    EngineUi().ShowMessage(std::string("Fehler: ") + e.what());
  }
  return true;
}

void ConnectMenuCommands(QWidget* root) {
  for (QAction* action : root->findChildren<QAction*>()) {
    if (action->objectName().isEmpty() || action->property("astrelonCommand").toBool()) continue;
    action->setProperty("astrelonCommand", true);
    QObject::connect(action, &QAction::triggered, action,
                     [action] { RunMenuCommand(action->objectName(), action); });
  }
}

}  // namespace astrelon
