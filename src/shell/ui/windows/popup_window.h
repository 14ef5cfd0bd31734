#pragma once
// Which image window a pop-up command works on: the window whose menu holds the
// clicked item, else the window a pop-up menu was opened for last, else the
// active image window.
class QAction;

namespace astrelon {

class TMDIChild;

TMDIChild* PopupWindow(QAction* sender);
// Remembers the window a pop-up menu is opened for.
void SetPopupWindow(TMDIChild* window);

}  // namespace astrelon
