#pragma once
// Commands of the main menu, found by the object names of their items
// ("FileOpenItem", "Bildgrendern1", …). The subsystem that builds a command
// registers its handler under the item's name; the main window connects its
// menu items to the handlers by name when they are triggered, so the order of
// registering and building does not matter. A handler that throws leaves a
// message, never an exception in the event loop.
#include <functional>

#include <QString>

class QAction;
class QWidget;

namespace astrelon {

// The handler gets the triggered item (nullptr when run without one, as tests do).
using TMenuHandler = std::function<void(QAction* sender)>;

// Registers (or replaces) the handler of the item with this object name.
void RegisterMenuCommand(const QString& objectName, TMenuHandler handler);
bool HasMenuCommand(const QString& objectName);
// Registers a handler that stands only while `available` says so: until then the
// menu hides the item and running it does nothing (a command whose tool is not
// in the program yet).
void RegisterMenuCommand(const QString& objectName, TMenuHandler handler, std::function<bool()> available);
// Whether the item has a handler that is available now (the menu shows it).
bool MenuCommandAvailable(const QString& objectName);
// Runs the handler; false when the name has none. Exceptions are caught and shown.
bool RunMenuCommand(const QString& objectName, QAction* sender = nullptr);
// Connects every action below `root` whose object name is set to RunMenuCommand.
void ConnectMenuCommands(QWidget* root);
// Called after every RegisterMenuCommand (the main menu shows the items that
// have a command).
void SetMenuCommandsChangedHook(std::function<void()> hook);

}  // namespace astrelon
