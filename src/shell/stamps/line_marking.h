#pragma once
// Lines drawn into an image window with the line tool (mouse tool 6), and the
// state of the instruction window that asks for them: which operation waits
// (its mode), how many lines it needs, how many are marked, and its "Ok".
#include <array>
#include <cstdint>

#include "store/image_store.h"

namespace astrelon {

struct TMarkedLine {
  TPointI P1, P2;  // start and end, image pixels
  uint8_t Drawn = 0;
};

struct TLineMarking {
  int32_t Slot = -1;                 // window the lines belong to; -1 none
  std::array<TMarkedLine, 3> Lines;  // lines 1 and 2 (entry 0 unused)
};
extern TLineMarking LineMarking;

// The instruction window: mode 1 one slanted line (rotation), 2 two opposite
// slanted lines (perspective), other values one line (line profile).
struct TLinePrompt {
  int32_t Mode = 0;
  int32_t LinesNeeded = 1;
  int32_t LinesMarked = 0;    // number of the line being drawn
  int32_t LinesFinished = 0;  // highest finished line number
  uint8_t Active = 0;
  uint8_t OkPressed = 0;
};
extern TLinePrompt LinePrompt;

// Lines asked for in a mode: 2 in mode 2, else 1.
int32_t LinesNeededFor(int32_t mode);

enum class TLinePress {
  Ignored,
  Started,         // a line began at the point
  Restarted,       // as Started, after the earlier lines were dropped (the window re-renders)
  Finished,        // the open line ended at the point
  FinishedAll,     // as Finished, and the asked-for lines are all marked ("Ok" is enabled)
};
// A left press in the window of `slot` at image point p (uses ArrowIdle and
// ToolTargetSlot of the image windows).
TLinePress LineMarkPress(int slot, TPointI p);
// The mouse over the window of `slot` at image point p: the open line follows it.
// True when a line is open there (the window repaints).
bool LineMarkMove(int slot, TPointI p);
// Forgets the lines (their window is re-rendered by the caller).
void ClearLineMarking();

}  // namespace astrelon
