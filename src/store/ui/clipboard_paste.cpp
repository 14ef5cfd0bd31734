#include "store/ui/clipboard_paste.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QMimeData>
#include <algorithm>
#include <climits>

#include "common/engine_ui.h"
#include "platform/memory_probe.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/ui/preview_control.h"

namespace astrelon {

namespace {

// For its life the image reader's allocation limit (128 MB by default, which a
// 6000 x 6000 colour picture passes) is what the store allows a picture: its
// memory check asks 28 bytes of free memory per pixel of a colour image, of
// which the decoded picture takes 4.
class TPictureAllocationLimit {
public:
  TPictureAllocationLimit() : saved_(QImageReader::allocationLimit()) {
    const uint64_t free = AvailableMemory();
    if (free == 0) return;  // unknown: the reader's own limit stays
    const uint64_t megabytes = free / MemoryNeededForPixels(1, true) * 4 / (uint64_t(1) << 20);
    QImageReader::setAllocationLimit(int(std::clamp<uint64_t>(megabytes, 1, INT_MAX)));
  }
  ~TPictureAllocationLimit() { QImageReader::setAllocationLimit(saved_); }
  TPictureAllocationLimit(const TPictureAllocationLimit&) = delete;
  TPictureAllocationLimit& operator=(const TPictureAllocationLimit&) = delete;

private:
  int saved_;
};

}  // namespace

void PasteClipboardImage() {
  const int slot = FindFreeSlot();
  if (slot < 1) {
    EngineUi().ShowMessage(TooManyImagesText());
    return;
  }
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (!data || !data->hasImage()) return;  // no picture: nothing to paste
  QImage image;
  {
    const TPictureAllocationLimit limit;
    image = QGuiApplication::clipboard()->image();
  }
  if (image.isNull() || !GraphicToSlot(ImagePicture(image), slot, false)) {
    EngineUi().ShowMessage("Das Bild aus dem Zwischenspeicher konnte nicht gelesen werden.");
    return;
  }
  Store.Image[size_t(slot)].NumberedName = 1;
  Store.FileName[size_t(slot)] = "ClpBrd0.bmp";
  MakeCopyName(slot, slot);
  ComputeHistogram(slot, false, true);
  ShowImageWindow(slot);
  RefreshHistogramWindow();
}

}  // namespace astrelon
