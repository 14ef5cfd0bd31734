// Batch steps that change the size or geometry of the work image: cutting,
// borders, resampling and rotation.
#include <cstdlib>

#include "batch/exec/step_copy.h"
#include "batch/exec/step_run.h"
#include "batch/exec/step_values.h"
#include "common/pascal_format.h"
#include "core/settings.h"
#include "kernels/regions/add_border.h"
#include "kernels/regions/crop_image_rect.h"
#include "kernels/sampling/resample_image.h"
#include "pixelops/geometry/rotate_image.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

int64_t Magnitude(int32_t v) { return std::llabs(int64_t(v)); }

// A new size or its sides changed: the axis cards and the value range follow.
void SizeChanged(int work) {
  SetNaxisCards(work);
  UpdateMinMax(work);
}

// "Ausschneiden": values top, bottom, left, right, signs ignored.
void Crop(const TStepRun& run) {
  const TImageSlot& im = Store.Image[size_t(run.Work)];
  const int64_t top = Magnitude(StepInt(run.Value(1))), bottom = Magnitude(StepInt(run.Value(2)));
  const int64_t left = Magnitude(StepInt(run.Value(3))), right = Magnitude(StepInt(run.Value(4)));
  const int64_t x2 = im.Width - 1 - right, y2 = im.Height - 1 - bottom;
  if (left > x2 || top > y2 ||
      !CropImageRect(run.Work, run.Work, int32_t(left), int32_t(top), int32_t(x2), int32_t(y2))) {
    ShowStepError(run.Op);
    return;
  }
  SizeChanged(run.Work);
}

// "Rand hinzufügen": blank borders; a negative one is refused.
void Border(const TStepRun& run) {
  const int32_t top = StepInt(run.Value(1)), bottom = StepInt(run.Value(2));
  const int32_t left = StepInt(run.Value(3)), right = StepInt(run.Value(4));
  if (top < 0 || bottom < 0 || left < 0 || right < 0) {
    ShowStepError(run.Op);
    return;
  }
  const TImageSlot& im = Store.Image[size_t(run.Work)];
  if (int64_t(im.Width) + left + right >= ResampleSizeLimit ||
      int64_t(im.Height) + top + bottom >= ResampleSizeLimit || !AddBorder(run.Work, top, bottom, left, right, BlankPixel)) {
    ShowStepError(run.Op);
    return;
  }
  SizeChanged(run.Work);
}

bool SideUsable(int64_t n) { return n >= 1 && n < ResampleSizeLimit; }

// "Bildgröße ändern" by factors or (option bit 2) to pixel counts, bit 4
// keeping the proportion; a size below one pixel is refused.
void Resize(const TStepRun& run) {
  const bmenuitem& r = *run.Item;
  const TImageSlot& im = Store.Image[size_t(run.Work)];
  const int32_t kind = r.MarksOrInterpolation >= 0 && r.MarksOrInterpolation <= 4 ? r.MarksOrInterpolation : 2;
  const bool antiMoire = run.OptionOn();
  const bool box = r.OptionFlags > 0 && (r.OptionFlags & 1) != 0;
  if (r.OptionFlags > 0 && (r.OptionFlags & 2) != 0) {
    int64_t width = Round(StepFloat(run.Value(1))), height = Round(StepFloat(run.Value(2)));
    if ((r.OptionFlags & 4) != 0 && width > 0 && height > 0) {
      if (double(im.Width) * double(height) / (double(im.Height) * double(width)) < 1)
        width = Round(double(im.Width) * double(height) / im.Height);
      else
        height = Round(double(im.Height) * double(width) / im.Width);
    }
    if (!SideUsable(width) || !SideUsable(height)) {
      ShowStepError(run.Op);
      return;
    }
    ResampleImage(run.Work, kind, int32_t(width), 0, 0, int32_t(height), true, antiMoire, box);
  } else {
    const double fx = StepFloat(run.Value(1)), fy = StepFloat(run.Value(2));
    if (!(fx > 0) || !(fy > 0) || !(fx < ResampleSizeLimit) || !(fy < ResampleSizeLimit) ||
        !SideUsable(ScaledSide(im.Width, fx)) || !SideUsable(ScaledSide(im.Height, fy))) {
      ShowStepError(run.Op);
      return;
    }
    ResampleImage(run.Work, kind, 0, fx, fy, 0, false, antiMoire, box);
  }
  SizeChanged(run.Work);
}

// "Bild rotieren": from a copy, with the program-wide interpolation kind.
void Rotate(const TStepRun& run) {
  const double angle = StepAngle(run.Value(1));
  const TStepCopy copy(run);
  if (!copy) return;
  if (RotateImage(copy.Slot(), run.Work, Settings.InterpolationKind, angle, int(TRotateFraming::KeepSize)))
    UpdateMinMax(run.Work);
}

}  // namespace

bool RunGeometryStep(const TStepRun& run) {
  switch (run.Op) {
    case 1: Crop(run); return true;
    case 2: Border(run); return true;
    case 3: Resize(run); return true;
    case 19: Rotate(run); return true;
    default: return false;
  }
}

}  // namespace astrelon
