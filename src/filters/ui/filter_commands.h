#pragma once
// Menu commands of the filter dialog's functions.
class QAction;

namespace astrelon {

// Registers the menu items of the filter functions, the dialog form and the
// image windows' selection notices; called once at start-up.
void RegisterFilterCommands();

// Starts filter function `nr` on the active image: makes the result slot and its
// window and shows the dialog with the menu item's caption (without "&").
// Nothing happens without an active image; without a free slot the user is told.
void AllgemeinerFunktionsStart(QAction* sender, int nr);

}  // namespace astrelon
