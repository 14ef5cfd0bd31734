#pragma once
// Creating the image window of a slot, sizing it to the image at its zoom inside
// the main window's free area, and changing the zoom (zoom list, zoom pop-up,
// zoom in and out at the cursor and by the mouse wheel).
#include <QPoint>
#include <functional>

#include "store/image_store.h"

namespace astrelon {

// Creates the window of a slot and renders it: the one call that shows a new
// result or a loaded file.
void ShowImageWindow(int slot);
// Creates the window of a slot (nothing when slot <= 0 or it has one already).
void CreateMDIChild(int slot);
// Sizes the window to the image at its zoom within the free area.
void FitWindowToImage(int slot);
// FitWindowToImage, then render.
void ResizeAndRender(int slot);
// Zoom status, ResizeAndRender and the main status bar.
void RedrawWindowZoom(int slot);

// A choice of the zoom list (0 "Autozoom", 1 "400%" .. 10 "17%"). A fixed zoom
// applies to every open window; "Autozoom" only to windows created later.
void SetZoomCode(int listIndex);
// One step in or out for the current window, keeping the image point under the
// mouse cursor in place; both return 0.
int ZoomInAtCursor();
int ZoomOutAtCursor();
// The same for a slot's window and a screen position.
void ZoomAtPoint(int slot, QPoint globalPos, bool zoomIn);
// The zoom pop-up at a screen position for a slot's window (200 % and 400 %
// disabled beyond the slot's step limit); "N4001Click" sets a chosen percent.
void ShowZoomMenu(int slot, QPoint globalPos);
void ZoomMenuChoice(int percent);

// Scroll bars of the main window's image area.
bool HasVerticalScrollBar();
bool HasHorizontalScrollBar();
// Reads the free area of the main window into MainWindowArea.
void UpdateWindowArea();

// Positions in a window's picture control (origin at the picture's top-left)
// and image pixels, at the slot's zoom.
TPointI ControlToImagePoint(int slot, TPointI p);
TPointI ImageToControlPoint(int slot, TPointI p);
TRectI ControlToImageRect(int slot, TRectI r);
TRectI ImageToControlRect(int slot, TRectI r);

// Position of the last window closed during a batch run; windows created later
// in the run open there once the batch has cleared its start flag.
struct TRememberedWindowPosition {
  bool Valid = false;
  int Left = 0, Top = 0;
};
extern TRememberedWindowPosition RememberedWindowPosition;
extern bool BatchStartPending;  // the batch's start flag

// The blink window follows new windows and zoom changes.
extern std::function<void(int slot)> WindowCreatedHook;
extern std::function<void(int slot)> WindowZoomedHook;

// Connects the image windows to the renderer, the loaders and the main window.
void InstallImageWindows();

}  // namespace astrelon
