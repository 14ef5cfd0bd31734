#pragma once
// Zoom steps of the image windows, the zoom codes and the zoom list, the size
// limit of a window's bitmap and the automatic choice of a zoom for a new window.
#include <array>
#include <cstdint>

namespace astrelon {

// Zoom steps in percent, smallest first.
constexpr std::array<int, 10> ZoomSteps{17, 25, 35, 50, 70, 100, 140, 200, 280, 400};
// Candidates of the automatic zoom, in order of trial (17 when none fits).
constexpr std::array<int, 5> AutozoomCandidates{100, 70, 50, 35, 25};

constexpr int ZoomListCount = 11;  // "Autozoom", "400%" .. "17%"
// Zoom code of each zoom-list entry (0 = "Autozoom").
constexpr std::array<int, ZoomListCount> ZoomListCodes{0, 3, 5, 2, 4, 1, -3, -1, -4, -2, -5};
// Percent of each zoom-list entry (100 stands in for "Autozoom").
constexpr std::array<int, ZoomListCount> ZoomListPercents{100, 400, 280, 200, 140, 100, 70, 50, 35, 25, 17};

// Percent of a zoom code; 100 for code 0 and for unknown codes.
int ZoomCodePercent(int code);
// Zoom code of the current zoom-list entry (Settings.ZoomEntry); 0 = automatic.
int CurrentZoomCode();

// Next step up or down; the same value at 400 or 17. A value between steps moves
// to the next step in that direction.
int ZoomStepUp(int percent);
int ZoomStepDown(int percent);

// Largest step whose bitmap stays below 32,700 pixels a side (a side <= 0 puts no
// limit); 17 when even 17 is too large.
int MaxZoomStepForSize(int32_t width, int32_t height);
int MaxZoomStepForImage(int slot);

// First candidate (100, 70, 50, 35, 25) at which the image fits the free area
// (integer division), else 17.
int AutozoomPercent(int32_t width, int32_t height, int freeWidth, int freeHeight);

// The main window's room for image windows, kept current by the user interface:
// the free client area (without tool bars, status bar, side panels and the MDI
// client's own scroll bars) and the frame size of an image window (outer minus
// client size, measured on the first window; 0 before).
struct TWindowArea {
  int FreeWidth = 1024;
  int FreeHeight = 768;
  int FrameWidth = 0;
  int FrameHeight = 0;
};
extern TWindowArea MainWindowArea;

}  // namespace astrelon
