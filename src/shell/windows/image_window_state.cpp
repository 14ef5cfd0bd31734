#include "shell/windows/image_window_state.h"

namespace astrelon {

int32_t ToolMode = 1;
TPointI LastClickPixel;
std::array<TRectI, 5> SelectionRects{};
std::array<std::array<TRectI, 5>, SlotArraySize> WindowSelectionRects{};
int32_t CurrentWindowSlot = 0;
int32_t CopySourceSlot = -1;
TPointI CopySourcePoint;
std::vector<TPointI> StampPath;
int32_t ToolTargetSlot = -1;
uint8_t TextPlaced = 1;
uint8_t ArrowIdle = 1;
TPointI HoverPixel;
TPointI ArrowTail, ArrowHead;

void ResetImageWindowState() {
  ToolMode = 1;
  LastClickPixel = {};
  SelectionRects = {};
  WindowSelectionRects = {};
  CurrentWindowSlot = 0;
  CopySourceSlot = -1;
  CopySourcePoint = {};
  StampPath.clear();
  ToolTargetSlot = -1;
  TextPlaced = 1;
  ArrowIdle = 1;
  HoverPixel = {};
  ArrowTail = ArrowHead = {};
}

}  // namespace astrelon
