#pragma once
// Where a tool or prompt window starts: beside what it belongs to (an image
// window, the image area), on the desktop, not over it where there is room.
#include <QPoint>
#include <QRect>
#include <QSize>
#include <functional>
#include <optional>

class QWidget;

namespace astrelon {

// The top-left corner for a window of `size` (frame included) beside `anchor`,
// all in desktop coordinates: right of the anchor when it fits on `desk`, else
// left of it, else inside the anchor at its top-right corner; level with the
// anchor's top, and kept on the desk as far as the size allows.
QPoint PlaceBeside(const QRect& anchor, QSize size, const QRect& desk);

// A rectangle of at most `size` and at least `minimum` at the bottom-right
// corner of `area`, clear of `taken` (an image window at the area's top-left;
// nothing when empty): right of it or below it, whichever strip holds the
// larger rectangle; none when neither holds `minimum`.
std::optional<QRect> FreeCornerPlace(const QRect& area, const QRect& taken, QSize size, QSize minimum);

// Where a tool window of `size` (frame included) starts on a first run, in
// desktop coordinates: right (else left) of the main window's frame `main`,
// level with the image area's top, where the desk has room; else in the image
// area's bottom-right corner, which the first image window (opened at the
// area's top-left) leaves free; kept on the desk.
QPoint FirstRunToolPlace(const QRect& main, const QRect& area, QSize size, const QRect& desk);

// Where a new image window of `size` goes in an image area of `area`, given the
// area's own `place` for it: moved up and left (not past the area's corner) as
// far as needed for the whole window to fit.
QPoint NewWindowPlace(QPoint place, QSize size, QSize area);

// The image area (the main window's MDI viewport) and the active image window
// in desktop coordinates; empty when there is none.
QRect ImageAreaOnDesk();
QRect ActiveImageWindowOnDesk();
// The main window's frame on the desktop; empty when there is none.
QRect MainWindowOnDesk();

// Runs `f` once `window` has been shown and laid out (soon, when it already shows).
void AfterShown(QWidget* window, std::function<void()> f);

// Moves a top-level window beside `anchor` on its screen (nothing for an empty anchor).
void MoveBeside(QWidget* window, const QRect& anchor);

}  // namespace astrelon
