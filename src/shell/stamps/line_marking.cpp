#include "shell/stamps/line_marking.h"

#include <algorithm>

#include "shell/windows/image_window_state.h"

namespace astrelon {

TLineMarking LineMarking;
TLinePrompt LinePrompt;

int32_t LinesNeededFor(int32_t mode) { return mode == 2 ? 2 : 1; }

TLinePress LineMarkPress(int slot, TPointI p) {
  if (ArrowIdle == 1) {
    if (ToolTargetSlot != slot && ToolTargetSlot != -1) return TLinePress::Ignored;
    TLinePress result = TLinePress::Started;
    if (++LinePrompt.LinesMarked > std::clamp(LinePrompt.LinesNeeded, 1, 2) || LineMarking.Slot != slot) {
      LinePrompt.LinesMarked = 1;
      LineMarking.Lines[1].Drawn = LineMarking.Lines[2].Drawn = 0;
      result = TLinePress::Restarted;
    }
    TMarkedLine& line = LineMarking.Lines[size_t(LinePrompt.LinesMarked)];
    line.P1 = line.P2 = p;
    line.Drawn = 0;
    ArrowIdle = 0;
    ToolTargetSlot = slot;
    LineMarking.Slot = slot;
    return result;
  }
  if (ToolTargetSlot != slot || LinePrompt.LinesMarked < 1) return TLinePress::Ignored;
  TMarkedLine& line = LineMarking.Lines[size_t(LinePrompt.LinesMarked)];
  line.P2 = p;
  line.Drawn = 1;
  LinePrompt.LinesFinished = std::max(LinePrompt.LinesFinished, LinePrompt.LinesMarked);
  ArrowIdle = 1;
  return LinePrompt.LinesFinished >= LinePrompt.LinesNeeded ? TLinePress::FinishedAll : TLinePress::Finished;
}

bool LineMarkMove(int slot, TPointI p) {
  if (ArrowIdle == 1 || ToolTargetSlot != slot || LinePrompt.LinesMarked < 1) return false;
  TMarkedLine& line = LineMarking.Lines[size_t(LinePrompt.LinesMarked)];
  line.P2 = p;
  line.Drawn = 1;
  return true;
}

void ClearLineMarking() { LineMarking = {}; }

}  // namespace astrelon
