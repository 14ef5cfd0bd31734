#include "filters/ui/enlargement_frame.h"

#include "common/engine_ui.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "shell/main/main_services.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

QString ResizeStatusText() {
  const std::string t = LangText(LangKey(1, 2, 3));
  return QString::fromStdString(t.empty() ? std::string("Bildgröße ändern") : StripAccelerators(t));
}

std::optional<int32_t> AskWholeNumber(const QString& caption, const QString& prompt, const QString& preset,
                                      QString* typed) {
  QString text = preset;
  if (!LangInputQuery(caption, prompt, text)) return std::nullopt;
  if (typed) *typed = text;
  try {
    return StrToIntTrim(text.toStdString());
  } catch (const std::invalid_argument& e) {
    EngineUi().ShowMessage(e.what());
    return std::nullopt;
  }
}

TEnlargementRun RunEnlargementOnResult(const std::string& history, int historyMode,
                                       const std::function<bool(int source, int destination)>& enlarge) {
  TBusyCursorScope busy;
  if (!NewResultSlot()) {
    SlotPair = {};
    return TEnlargementRun::NoResult;
  }
  const int src = SlotPair.Source, dst = SlotPair.Destination;
  bool done = false;
  SetOperationActive(true);
  try {
    done = enlarge(src, dst) && !AbortRequested;
  } catch (...) {
    SetOperationActive(false);
    CloseImageSlot(dst);
    SetMainStatusText(2, {});
    SlotPair = {};
    throw;
  }
  SetOperationActive(false);
  if (done && SlotInUse(dst)) {
    ComputeHistogram(dst, false, true);
    SetNaxisCards(dst);
    if (!history.empty()) AddHistoryCard(dst, history, historyMode);
    ShowImageWindow(dst);
  } else {
    done = false;
    CloseImageSlot(dst);
  }
  SetMainStatusText(2, {});
  SlotPair = {};
  return done ? TEnlargementRun::Done : TEnlargementRun::Aborted;
}

}  // namespace astrelon
