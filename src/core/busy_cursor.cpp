#include "core/busy_cursor.h"

#include <cstddef>

namespace astrelon {

TBusyCursorStack BusyCursorStack;

namespace {
int16_t PlainCursor = CursorDefault;
TCursorAccess Access;
}  // namespace

void SetCursorAccess(const TCursorAccess& access) { Access = access; }

int16_t CurrentScreenCursor() { return Access.Current ? Access.Current() : PlainCursor; }

static void SetScreenCursor(int16_t cursor) {
  if (Access.Set)
    Access.Set(cursor);
  else
    PlainCursor = cursor;
}

void PushBusyCursor(int16_t cursor) {
  TBusyCursorStack& s = BusyCursorStack;
  if (s.Depth < BusyCursorCapacity) s.Saved[std::size_t(s.Depth)] = CurrentScreenCursor();
  ++s.Depth;
  SetScreenCursor(cursor);
}

void PopBusyCursor() {
  TBusyCursorStack& s = BusyCursorStack;
  --s.Depth;
  if (s.Depth < 0) {
    s.Depth = 0;
    SetScreenCursor(CursorDefault);
  } else if (s.Depth < BusyCursorCapacity) {
    SetScreenCursor(s.Saved[std::size_t(s.Depth)]);
  }
}

}  // namespace astrelon
