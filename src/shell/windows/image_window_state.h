#pragma once
// State of the image windows that the rest of the program reads: the mouse tool,
// the last pressed pixel, the selections of the window last worked on and of
// every slot, the current window and the copy-stamp source.
#include <array>
#include <cstdint>
#include <vector>

#include "store/image_store.h"

namespace astrelon {

// Mouse tool of all image windows: 1 info, 2 star picking, 3 stamp, 4 text,
// 5 arrow, 6 line marking, 7 copy stamp.
extern int32_t ToolMode;
// Image pixel of the last press in an image window.
extern TPointI LastClickPixel;
// Selection 1, selection 2, marker 1, marker 2 (index 1..4; 0 unused) of the
// window last worked on, and the same for every slot.
extern std::array<TRectI, 5> SelectionRects;
extern std::array<std::array<TRectI, 5>, SlotArraySize> WindowSelectionRects;
// Slot of the window the mouse last moved over or that was last activated.
extern int32_t CurrentWindowSlot;
// Copy-stamp source window and point; image points of the current stroke.
extern int32_t CopySourceSlot;
extern TPointI CopySourcePoint;
extern std::vector<TPointI> StampPath;
// Two-step tools (text, arrow, line): the window whose second click is awaited
// (-1 none); 1 while no text waits to be placed; 1 while the arrow (or line)
// waits for its first point; the image point last under the mouse; the arrow's
// tail and head.
extern int32_t ToolTargetSlot;
extern uint8_t TextPlaced;
extern uint8_t ArrowIdle;
extern TPointI HoverPixel;
extern TPointI ArrowTail, ArrowHead;

// Resets everything above (tests and start-up).
void ResetImageWindowState();

}  // namespace astrelon
