#pragma once
// Where a tool or prompt window starts: beside what it belongs to (an image
// window, the image area), on the desktop, not over it where there is room.
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace astrelon {

// The top-left corner for a window of `size` (frame included) beside `anchor`,
// all in desktop coordinates: right of the anchor when it fits on `desk`, else
// left of it, else inside the anchor at its top-right corner; level with the
// anchor's top, and kept on the desk as far as the size allows.
QPoint PlaceBeside(const QRect& anchor, QSize size, const QRect& desk);

// Where a new image window of `size` goes in an image area of `area`, given the
// area's own `place` for it: moved up and left (not past the area's corner) as
// far as needed for the whole window to fit.
QPoint NewWindowPlace(QPoint place, QSize size, QSize area);

// The image area (the main window's MDI viewport) and the active image window
// in desktop coordinates; empty when there is none.
QRect ImageAreaOnDesk();
QRect ActiveImageWindowOnDesk();

// Moves a top-level window beside `anchor` on its screen (nothing for an empty anchor).
void MoveBeside(QWidget* window, const QRect& anchor);

}  // namespace astrelon
