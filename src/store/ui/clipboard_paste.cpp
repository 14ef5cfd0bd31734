#include "store/ui/clipboard_paste.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>

#include "common/engine_ui.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/ui/preview_control.h"

namespace astrelon {

void PasteClipboardImage() {
  const int slot = FindFreeSlot();
  if (slot < 1) {
    EngineUi().ShowMessage(TooManyImagesText());
    return;
  }
  const QImage image = QGuiApplication::clipboard()->image();
  if (image.isNull() || !GraphicToSlot(ImagePicture(image), slot, false)) return;
  Store.Image[size_t(slot)].NumberedName = 1;
  Store.FileName[size_t(slot)] = "ClpBrd0.bmp";
  MakeCopyName(slot, slot);
  ComputeHistogram(slot, false, true);
  ShowImageWindow(slot);
  RefreshHistogramWindow();
}

}  // namespace astrelon
