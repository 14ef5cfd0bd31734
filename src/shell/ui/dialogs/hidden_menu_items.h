#pragma once
// Main-menu items that stay hidden until the access code is typed into the help
// window's hidden field. The menus mark such items (and the one hidden separator)
// with the property "unlockable" set to true; items are also recognised by their
// German captions.
#include <QStringList>

class QWidget;

namespace astrelon {

// The captions of the 37 hidden items, in menu order (the separator is not listed).
const QStringList& HiddenMenuCaptions();
// Set once the items are unlocked; they stay visible for the rest of the run.
extern bool HiddenMenusUnlocked;

// Whether the text typed into the unlock box is the access code (exact case).
bool IsMenuAccessCode(const QString& text);
// Makes the hidden items of every main window's menus visible.
void UnlockHiddenMenuItems();
// Asks for the access code ("Menüfreischaltung") and unlocks on a match; true when unlocked.
bool AskMenuAccessCode();

}  // namespace astrelon
