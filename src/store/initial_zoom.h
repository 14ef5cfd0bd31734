#pragma once
// The zoom a freshly loaded image opens with: a fixed zoom code of the main
// window's zoom list, or "Autozoom" (code 0), which fits the image into the free
// room of the main window.
#include <cstdint>

namespace astrelon {

struct TZoomRoom {
  int32_t ZoomCode = 1;    // 0 "Autozoom"; 1 = 100, 2 = 200, 3 = 400, 4 = 140, 5 = 280,
                           // -1 = 50, -2 = 25, -3 = 70, -4 = 35, -5 = 17 percent
  int32_t FreeWidth = 0;   // room for an image window's picture (Autozoom only)
  int32_t FreeHeight = 0;
};

// Set by the main window; without it every image opens at zoom code 1.
extern TZoomRoom (*ZoomRoomHook)();

// Autozoom takes the first of 100, 70, 50, 35, 25 % at which the image fits, else 17;
// a fixed code its percentage, at most the largest step whose bitmap stays under
// 32,700 pixels a side.
int32_t InitialZoomPercent(int32_t width, int32_t height, const TZoomRoom& room);

}  // namespace astrelon
