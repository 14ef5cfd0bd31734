#include "pixelops/ui/pixels/half_frame_commands.h"

#include "common/engine_ui.h"
#include "core/language.h"
#include "pixelops/pixels/half_frames.h"
#include "pixelops/ui/operation_frame.h"
#include "shell/ui/main/main_services_ui.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Both fields come from the source: it is made the active window again before
// each copy. No history card is written.
void SplitFields(QAction* sender, bool halfHeight) {
  const int source = FindActiveSlot();
  if (source < 1) return;
  if (Store.Image[size_t(source)].Height < 2) {
    EngineUi().ShowMessage("Das Bild hat nur eine Zeile: es lässt sich nicht in Halbbilder aufteilen");
    return;
  }
  const std::string word = LangTextOr(LangKey(9, 17), "Halbbild");
  bool made = false;
  for (int field = 1; field <= 2; ++field) {
    ActivateImageWindow(source);
    TResultSlot result;
    if (!result) break;
    Store.FileName[size_t(result.Destination())] = HalfFrameFileName(Store.FileName[size_t(source)], word, field);
    if (halfHeight) KeepHalfFrameRows(result.Destination(), field);
    else InterpolateHalfFrame(result.Destination(), field);
    result.Finish({.ResetRange = false, .AutoDisplayRange = false, .History = {}, .HistoryMode = 0});
    made = true;
  }
  if (made) AddRecentFunction(sender);
}

}  // namespace

void SplitFieldsInterpolatedCommand(QAction* sender) { SplitFields(sender, false); }

void SplitFieldsHalfHeightCommand(QAction* sender) { SplitFields(sender, true); }

}  // namespace astrelon
