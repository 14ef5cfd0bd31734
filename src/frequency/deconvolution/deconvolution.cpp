#include "frequency/deconvolution/deconvolution.h"

#include <algorithm>
#include <cmath>

#include "common/engine_ui.h"
#include "core/busy_cursor.h"
#include "frequency/deconvolution/deconvolution_psf.h"
#include "frequency/deconvolution/deconvolution_spectrum.h"
#include "kernels/fft/spectrum_image.h"
#include "kernels/regions/owned_slot.h"
#include "kernels/regions/rect_runs.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The destination's progress bar between the stages; hidden when it goes.
class TStages {
public:
  explicit TStages(int slot) : slot_(slot) {}
  ~TStages() { HideProgress(slot_); }
  TStages(const TStages&) = delete;
  TStages& operator=(const TStages&) = delete;
  // Shows the percentage, lets pending messages run; false once aborted.
  bool Reach(int percent) const {
    if (ValidSlot(slot_) && Store.HasWindow[slot_] && Store.Window[slot_])
      ShowProgress(slot_, slot_, 1, float(percent), false, false, true, true, "Deconvolution");
    else
      EngineUi().ProcessMessages();
    return !AbortRequested;
  }

private:
  int slot_;
};

bool PsfHasValues(const TPsfCopy& psf) {
  for (int p = 1; p <= psf.PlaneCount; ++p)
    for (float v : psf.Planes[size_t(p)])
      if (v != 0.0f) return true;
  return false;
}

}  // namespace

bool DeconvolutionBerechnen(int /*source*/, int destination, int psf, double noise) {
  const TBusyCursorScope busy;
  if (psf < 1 || !SlotInUse(psf) || !SlotInUse(destination)) return false;
  const TPsfCopy psfCopy = CopyPsfImage(psf);
  // A PSF of zeros has no spectrum to divide by: it would turn the image into zeros.
  if (!PsfHasValues(psfCopy)) return false;
  noise = noise >= 0.001 ? noise : 0.001;
  const TStages stages(destination);
  if (!stages.Reach(0) || !stages.Reach(10)) return false;

  const int32_t outer = FftOuterMarginSetting();
  TOwnedSlot spectrum(ImageToFft2D(destination, 0, outer));
  if (!spectrum.Made()) return false;
  const TImageSlot& sp = Store.Image[spectrum.Get()];
  const TPsfRowSpectra rows = PsfRowSpectra(psfCopy, sp.Width - 2, sp.Height);
  if (!stages.Reach(40)) return false;

  const TPlaneList planes = SelectedChannels(destination);
  for (const int32_t p : planes.Planes()) {
    const int psfPlane = rows.Colour && p <= rows.PlaneCount ? p : 1;
    DeconvolveSpectrumPlane(spectrum.Get(), p, rows, psfPlane, noise);
  }
  if (!stages.Reach(65)) return false;

  // The spectrum keeps the destination's channel selection: the inverse makes those planes.
  TOwnedSlot result(FftToImage2D(spectrum.Get(), -1, outer));
  spectrum.Free();
  if (!result.Made() || !SlotInUse(destination)) return false;
  const TImageSlot& r = Store.Image[result.Get()];
  const TImageSlot& d = Store.Image[destination];
  if (r.Width != d.Width || r.Height != d.Height) return false;
  for (const int32_t p : planes.Planes()) CopyPlane(result.Get(), p, destination, p);
  UpdateMinMax(destination);
  return true;
}

}  // namespace astrelon
