// Batch steps that combine the work image with another image file: a dark
// subtracted, a flat divided (both kept loaded for the next images) and a
// mask loaded for every image.
#include "batch/exec/kept_step_files.h"
#include "batch/exec/step_copy.h"
#include "batch/exec/step_run.h"
#include "batch/exec/step_values.h"
#include "batch/run/batch_run_state.h"
#include "batch/run/batch_run_view.h"
#include "common/engine_ui.h"
#include "core/settings.h"
#include "pixelops/flattening/mask_image.h"
#include "registration/calibration/dark_subtraction.h"
#include "registration/calibration/flat_division.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// A dark of another size than the image is not subtracted; the run says so
// once and goes on with the image as it is.
bool DarkFitsImage(int work, int dark) {
  const TImageSlot& im = Store.Image[size_t(work)];
  const TImageSlot& dk = Store.Image[size_t(dark)];
  if (im.Width == dk.Width && im.Height == dk.Height) return true;
  if (!BatchRun.DarkSizeReported) {
    BatchRun.DarkSizeReported = true;
    EngineUi().ShowMessage(DarkSizeDiffersText(im.Width, im.Height, dk.Width, dk.Height));
  }
  return false;
}

// "Bild subtrahieren": temperature compensation with option bit 1, hot-pixel
// repair with the option.
void SubtractDark(const TStepRun& run) {
  const int dark = StepFileSlot(run.Step, run.Value(1));
  if (dark < 1) return;
  if (DarkFitsImage(run.Work, dark)) {
    SubtractDarkFrame(run.Work, dark, run.Item->OptionFlags > 0, run.OptionOn());
    UpdateMinMax(run.Work);
  }
  KeepOrReleaseStepFile(run.Step, dark);
}

// "Bild dividieren": automatic scaling with the option; the flat division
// itself treats a mosaic flat by its cells.
void DivideFlat(const TStepRun& run) {
  const int flat = StepFileSlot(run.Step, run.Value(1));
  if (flat < 1) return;
  DivideByImage(run.Work, run.Work, flat, Options.Scale != 0, run.OptionOn());
  UpdateMinMax(run.Work);
  KeepOrReleaseStepFile(run.Step, flat);
}

// "Bild maskieren": the mask is loaded for every image and closed after it.
void Mask(const TStepRun& run) {
  const std::string& file = run.Value(1);
  if (FindFreeSlot() < 1) return;
  const int mask = LoadStepFile(file);
  if (mask < 1) return;
  TStepRun copyRun = run;
  copyRun.Free = FindFreeSlot();
  {
    const TStepCopy copy(copyRun);
    if (copy) {
      MaskImageByImage(copy.Slot(), mask, run.Work, run.OptionOn());
      UpdateMinMax(run.Work);
    }
  }
  ViewCloseSlot(mask);
}

}  // namespace

bool RunFileStep(const TStepRun& run) {
  switch (run.Op) {
    case 11: SubtractDark(run); return true;
    case 12: DivideFlat(run); return true;
    case 20: Mask(run); return true;
    default: return false;
  }
}

}  // namespace astrelon
