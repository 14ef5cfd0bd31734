#pragma once
// The pixel menu of an image window (PopupMenu1), opened by the right button on
// the picture: black, white and grey points from the pressed pixel or its
// neighbourhood, changing the pixel, transparency, the clipboard and the image's
// statistics.
#include <QPoint>

class QMenu;

namespace astrelon {

class TMDIChild;

// The window's pixel menu (made on first use).
QMenu* PixelMenu(TMDIChild& window);
// Brings the window to the front, shows the items that apply to the pressed
// pixel and pops the menu up at the screen position.
void OpenPixelMenu(TMDIChild& window, QPoint globalPos);
// Sets which items are shown (and whether the paste item is enabled).
void UpdatePixelMenuItems(TMDIChild& window);

// Registers the handlers of the pixel menu's items by their names.
void RegisterPixelMenuCommands();

}  // namespace astrelon
