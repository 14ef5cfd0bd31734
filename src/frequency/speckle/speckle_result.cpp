#include "frequency/speckle/speckle_result.h"

#include "core/settings.h"
#include "frequency/speckle/speckle_session.h"
#include "kernels/fft/spectrum_image.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

std::string SpeckleResultName(const std::string& folder) { return folder + "/IF_Result_0" + Settings.FitsExtension; }

int MakeSpeckleResultImage(TSpeckleSession& s, bool newResult, const std::string& caption, bool& isNew) {
  isNew = newResult || !SlotInUse(s.ResultImage) || !Store.HasWindow[size_t(s.ResultImage)];
  if (!SlotInUse(s.ResultSpectrum)) return -1;
  const int slot = isNew ? FindFreeSlot() : s.ResultImage;
  if (slot < 1) return -1;
  if (FftToImage2D(s.ResultSpectrum, slot, 0) != slot) {
    if (isNew && SlotInUse(slot)) FreeSlot(slot);
    return -1;
  }
  s.ResultImage = slot;
  TImageSlot& im = Store.Image[size_t(slot)];
  Store.FileName[size_t(slot)] = SpeckleResultName(s.ResultFolder);
  if (isNew) {
    ResetDisplayRange(slot, 0);
    ComputeHistogram(slot, false, true);
    im.NumberedName = 1;
    im.DataChanged = 0;
    AddHistoryCard(slot, caption, 0);
  } else {
    ComputeHistogram(slot, false, true);
  }
  return slot;
}

}  // namespace astrelon
