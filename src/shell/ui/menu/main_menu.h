#pragma once
// The main menu built from its table: one QMenu per submenu, one QAction per item
// with the item's object name, connected to the command of that name. An item
// whose command is not registered is hidden and shows as soon as one is; items
// marked unlockable wait for the menu access code as well.
#include <QString>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace astrelon {

// Fills the menu bar of `window` (whose shortcuts the shortcut-only items use).
void BuildMainMenu(QMenuBar* bar, QWidget* window);
// The item or submenu action with this object name in the main menu; nullptr when absent.
QAction* MainMenuItem(const QString& objectName);
// Top-level menu 0..5 (nullptr when the menu is not built).
QMenu* MainTopMenu(int index);
// Shows the items whose commands are registered and hides the others, below
// `menu` (the whole main menu when nullptr).
void RefreshMenuVisibility(QMenu* menu = nullptr);
// In "&Bearbeiten" then "Bilder &Kombinieren": first the menu's own items, then the
// items of each of its submenus with at least two items. "&" and letter case do
// not count; an empty caption finds nothing.
QAction* FindMenuItemByCaption(const QString& caption);
// Tag of an item (the filter function, the dark-subtraction options); 0 without.
int MenuItemTag(const QAction* item);

}  // namespace astrelon
