#pragma once
// The rules that enable the main menu's items and the tool bar's buttons for
// the open image windows, the active image and the running operation.
namespace astrelon {

// Enables and disables items and buttons, builds the network-filter menu when it
// is not shown yet, closes the drop-down lists and refreshes the status line.
void UpdateMenuState();
// The File menu on opening: batch, master and registration tools only while none
// of them runs; "Letzte Funktionen" with at least one entry.
// "S&chließen" follows the active window: disabled while it belongs to a
// running interactive operation.
void UpdateFileMenuOnOpen();
// Whether the slot is the source or the result of the running interactive
// operation, or held by running workers (SlotBusy).
bool ActiveWindowInOperation(int slot);
// Brings the enabling of the menus and tool-bar buttons up to date when called
// on the interface's thread (installed as the store's SlotGuardChangedHook).
void RefreshCommandEnabling();

}  // namespace astrelon
