#pragma once
// Menu commands of the filter dialog's functions.
#include <QString>

class QAction;

namespace astrelon {

// Registers the menu items of the filter functions, the dialog form and the
// image windows' selection notices; called once at start-up.
void RegisterFilterCommands();

// Starts filter function `nr` on the active image: makes the result slot and its
// window and shows the dialog with the menu item's caption (without "&").
// Nothing happens without an active image; without a free slot the user is told.
void AllgemeinerFunktionsStart(QAction* sender, int nr);

// The first steps of a start: with the dialog hidden and an image active, the
// result slot is made as its copy and shown in its window (SlotPair holds
// both). False when the start ends here (without a free slot the user is told).
bool OpenFilterResult();

// The end of a start: the dialog's caption (the menu item's without "&"), the
// dialog shown for FunktionNr `nr`, the item into "Letzte Funktionen".
void ShowFilterDialog(QAction* sender, int nr);
// The same with a caption of its own (the network filters show their file's name).
void ShowFilterDialog(QAction* sender, int nr, const QString& caption);

}  // namespace astrelon
