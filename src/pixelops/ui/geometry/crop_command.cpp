#include "pixelops/ui/geometry/crop_command.h"

#include "core/language.h"
#include "kernels/regions/crop_image_rect.h"
#include "shell/main/main_services.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/rect_text.h"
#include "store/slot_holds.h"

namespace astrelon {

std::function<void(int slot, int32_t x, int32_t y)> ShowCropChoiceHook;

void ShowCutImage(int source, int dst, const std::string& history) {
  TImageSlot& d = Store.Image[size_t(dst)];
  Store.InUse[size_t(dst)] = 1;
  d.JpegQuality = -1;
  d.JpegFileSize = 0;
  d.NumberedName = 1;
  MakeCopyName(source, dst);
  CopyHeaderCards(source, dst);
  Store.NewHistoryCard[size_t(dst)] = Store.NewHistoryCard[size_t(source)];
  CopyDisplayRecord(source, dst);
  SetNaxisCards(dst);
  AddHistoryCard(dst, history, 1);
  ComputeHistogram(dst, false, true);
  ShowImageWindow(dst);
}

void CropCommand(QAction* sender) {
  const int source = FindActiveSlot();
  const int dst = FindFreeSlot();
  // The cut is not taken from an image that a running operation is changing.
  if (source < 1 || dst < 1 || SlotBusy(source)) return;
  SetWorkRectFromWindow(source, 1, true);
  const TImageWindowLink* window = Store.Window[size_t(source)];
  if (window && window->MarkerVisible(1)) {
    if (ShowCropChoiceHook) ShowCropChoiceHook(source, WorkRect.x1, WorkRect.y1);
    return;
  }
  if (WorkRect.x1 >= WorkRect.x2) return;
  // The free slot may hold the record of an image closed before: start afresh.
  Store.Image[size_t(dst)] = TImageSlot{};
  if (!CropImageRect(source, dst, WorkRect.x1, WorkRect.y1, WorkRect.x2, WorkRect.y2)) return;
  ShowCutImage(source, dst, LangTextOr(LangKey(31, 4), "Ausschnitt") + " " + FormatRectText(GetSelectionRect()));
}

}  // namespace astrelon
