#include "shell/save/save_tiff_scaled.h"

#include "core/batch_state.h"
#include "core/settings.h"
#include "shell/display/display_stretch.h"
#include "shell/display/palette_to_data.h"
#include "store/image_store.h"
#include "store/planes/percentile_over_planes.h"
#include "store/tiff/tiff_writer.h"

namespace astrelon {

namespace {

// Frees a temporary slot however the save ends.
class TTemporarySlot {
public:
  explicit TTemporarySlot(int slot) : slot_(slot) {}
  ~TTemporarySlot() {
    if (slot_ > 0) FreeSlot(slot_);
  }
  TTemporarySlot(const TTemporarySlot&) = delete;
  TTemporarySlot& operator=(const TTemporarySlot&) = delete;

private:
  int slot_;
};

}  // namespace

bool SaveTiffScaled(int slot, int tiffCode, const std::string& fileName) {
  UpdateMinMax(slot);
  int work = slot;
  double low = 0, high = 65535;  // a batch run keeps the data linear in 0..65535
  int temporary = -1;
  const bool scaled = Options.TiffScale;
  const bool displayed = !scaled && !BatchRunning;
  if (scaled) {
    low = GetPercentileMinOverPlanes(slot, 0.05f);
    high = GetPercentileMaxOverPlanes(slot, 99.95f);
  } else if (displayed) {
    temporary = FindFreeSlot();
    if (temporary > 0) Store.InUse[temporary] = 1;  // taken before anything can fail
  }
  TTemporarySlot release(temporary);
  if (temporary > 0) {
    // What the window shows: the display stretch and a false-colour palette baked in.
    CopyImageSlot(slot, temporary);
    ApplyDisplayStretch(temporary, 65535.0);
    ApplyPaletteToData(temporary);
    work = temporary;
  }
  if (displayed) {  // without a free slot, the source's own display range
    low = Store.Display[work].Black;
    high = Store.Display[work].White;
  }
  SaveTiffImage(work, TiffWriterTypeOf(tiffCode), TiffCodeCompressed(tiffCode), low, high, fileName);
  return true;
}

}  // namespace astrelon
