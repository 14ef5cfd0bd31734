#pragma once
// The main menu as one table: every top-level menu, submenu and item with its
// object name, German caption, shortcut and tag, in menu order. The translation
// keys of the main window address items by their position in this tree, the
// enable rules and the command handlers by object name.
#include <QKeySequence>
#include <QString>
#include <vector>

namespace astrelon {

enum TMenuFlag : unsigned {
  mfSeparator = 1,     // a separator line
  mfUnlockable = 2,    // hidden until the menu access code is typed (help window)
  mfShortcutOnly = 4,  // never shown; its shortcut runs the command
  mfCheckable = 8,     // carries a check mark
  mfDynamic = 16,      // a submenu whose entries another part of the program makes
};

struct TMenuEntry {
  QString Name;
  QString Caption;
  QKeySequence Shortcut;
  int Tag = 0;
  unsigned Flags = 0;
  std::vector<TMenuEntry> Items;  // a submenu when not empty (or mfDynamic)
};

// The six top-level menus: 0 "&Datei", 1 "&Bearbeiten", 2 "Bilder &Kombinieren",
// 3 "&Einstellungen", 4 "&Fenster", 5 "&Hilfe".
const std::vector<TMenuEntry>& MainMenuTable();

// Position of the separator and the eight recent-file items in the File menu.
constexpr int RecentFileSeparatorIndex = 13;

}  // namespace astrelon
