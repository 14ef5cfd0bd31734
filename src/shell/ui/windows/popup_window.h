#pragma once
// The pop-up menus of an image window: made on first use from their items, and
// which image window a pop-up command works on.
#include <span>

class QAction;
class QMenu;

namespace astrelon {

class TMDIChild;

// One item of a pop-up menu: its object name, caption (nullptr: a separator)
// and the translation key of the caption (0: none).
struct TPopupItem {
  const char* Name;
  const char* Caption;
  int Key = 0;
};

// The window's pop-up menu with this object name, made on first use from the
// items, which run the commands registered under their names. With a translation
// file an item whose key has a text shows that text.
QMenu* WindowPopupMenu(TMDIChild& window, const char* name, std::span<const TPopupItem> items);
// Shows or hides the menu's item of this name.
void ShowMenuItem(QMenu* menu, const char* name, bool visible);

// The window a pop-up command works on: the window whose menu holds the clicked
// item, else the window a pop-up menu was opened for last, else the active one.
TMDIChild* PopupWindow(QAction* sender);
// Remembers the window a pop-up menu is opened for.
void SetPopupWindow(TMDIChild* window);

}  // namespace astrelon
