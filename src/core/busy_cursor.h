#pragma once
// The busy-cursor stack: up to 32 saved mouse cursors. Every command pushes the
// hourglass at its start and pops once at its end, also on its error exits.
#include <array>
#include <cstdint>

namespace astrelon {

// Cursor codes as the program passes them around.
constexpr int16_t CursorDefault = 0;
constexpr int16_t CursorHourGlass = -11;

constexpr int BusyCursorCapacity = 32;

struct TBusyCursorStack {
  int32_t Depth = 0;
  std::array<int16_t, BusyCursorCapacity> Saved{};
};
extern TBusyCursorStack BusyCursorStack;

// How the stack reads and sets the screen cursor; the user interface installs
// its own, the default keeps the cursor in a variable (used by tests).
struct TCursorAccess {
  int16_t (*Current)() = nullptr;
  void (*Set)(int16_t cursor) = nullptr;
};
void SetCursorAccess(const TCursorAccess& access);
int16_t CurrentScreenCursor();

// Saves the current cursor (while fewer than 32 are saved), counts the depth (also
// beyond 32) and shows `cursor`.
void PushBusyCursor(int16_t cursor = CursorHourGlass);
// Restores the cursor saved last; an unmatched pop resets to the default cursor.
void PopBusyCursor();

// Pushes on construction and pops on destruction.
class TBusyCursorScope {
public:
  explicit TBusyCursorScope(int16_t cursor = CursorHourGlass) { PushBusyCursor(cursor); }
  ~TBusyCursorScope() { PopBusyCursor(); }
  TBusyCursorScope(const TBusyCursorScope&) = delete;
  TBusyCursorScope& operator=(const TBusyCursorScope&) = delete;
};

}  // namespace astrelon
