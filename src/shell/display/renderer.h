#pragma once
// The renderer: turns a slot's float planes into the picture its window shows,
// through the slot's display record. Grey images become 8-bit pictures with the
// colour table of their display type; colour images, the user palette and the
// luma modes become 24-bit pictures. The picture is built at full, half or
// quarter resolution depending on the zoom.
#include <cstdint>
#include <string>

#include "store/display/display_bitmap.h"

namespace astrelon {

struct TRenderPlan {
  int Percent = 100;  // 25, 50 or 100
  int Level = 0;      // 0 full size, 1 half, 3 quarter
  int Offset = 0;     // sample offset inside each step: 2 at 25 %, 1 at 50 %, 0 at 100 %
  int32_t Width = 1;  // picture size
  int32_t Height = 1;
};

// Build resolution for a zoom: below 25 % at 25 %, up to 50 % at 50 %, above at
// 100 %; fullSize forces 100 %.
TRenderPlan PlanRender(int zoomPercent, bool fullSize, int32_t imageWidth, int32_t imageHeight);

// Builds the picture of a slot at a build percent (25, 50 or 100) into bitmap.
// Enforces the display-range invariants and raises a gamma below 0.2 to 0.2 in the
// record first. False (bitmap untouched) when the slot holds no image.
bool RenderSlotBitmap(int slot, int percent, TDisplayBitmap& bitmap);

// Builds (or reuses) and shows the picture of a slot's window. fullSize forces the
// full-resolution build (before the shown picture is saved). Nothing happens for
// a slot without an image or without a window.
void RenderImageWindow(int slot, bool fullSize);

// The picture last built for a slot's window (empty when none).
const TDisplayBitmap& WindowBitmap(int slot);
// Frees the picture of a slot's window (when the window closes).
void ReleaseWindowBitmap(int slot);

// Width of the window's picture divided by the image width; 1.0 when slot < 1, the
// slot is not in use or nothing was built yet.
float RenderScale(int slot);

// Zoom text of a window's status bar: "Zoom: " + zoom + "%".
std::string ZoomStatusText(int slot);

// Called by RenderImageWindow after the picture of a window was built or reused,
// so that the window shows it (sized by the zoom) and repaints.
using TWindowRenderedFn = void (*)(int slot, bool rebuilt);
void SetWindowRenderedHandler(TWindowRenderedFn fn);

}  // namespace astrelon
