#pragma once
// The region menu of an image window (PopupMenu2), opened by the right button on
// a selection, a point marker or a mark: hiding it, setting the pixels of a
// selection to one value (with undo) and the selection's statistics.
#include <QPoint>

class QMenu;

namespace astrelon {

class TMDIChild;

// The value last entered in "Pixel im Bereich auf einen Wert setzen" (0 at start).
extern double LastFillValue;

// The window's region menu (made on first use).
QMenu* RegionMenu(TMDIChild& window);
// Pops the menu up at the screen position; for marks and point markers
// (`forMark`) only "Markierung ausblenden" is shown.
void OpenRegionMenu(TMDIChild& window, QPoint globalPos, bool forMark);

// Registers the handlers of the region menu's items by their names.
void RegisterRegionMenuCommands();

}  // namespace astrelon
