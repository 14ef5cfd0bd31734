// Batch steps of colour and display: the colour-mosaic conversion, grey from
// colour, the colour matrix, the field distortion, the planes of a colour
// image saved apart, and a histogram settings file written into the data.
#include <algorithm>
#include <cctype>

#include "batch/exec/step_copy.h"
#include "batch/exec/step_run.h"
#include "batch/exec/step_values.h"
#include "batch/run/batch_result_save.h"
#include "batch/run/batch_run_slots.h"
#include "batch/run/batch_run_state.h"
#include "common/paths.h"
#include "kernels/colour/color_to_mono.h"
#include "pixelops/colour/color_matrix.h"
#include "pixelops/colour/split_colour_planes.h"
#include "pixelops/geometry/field_distortion.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "shell/display/display_stretch.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/display/histogram_settings_file.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// "FarbCCD nach RGB" with the settings read at the run's preparation.
void Debayer(const TStepRun& run) {
  const int result = GenerateRgbFromMosaic(run.Work);
  if (result < 1) {
    ShowStepError(run.Op);
    return;
  }
  ReplaceWorkImage(run.Work, result);
}

// "RGB Bild in SW wandeln": the mean of the planes (0.299 R + 0.587 G + 0.114 B).
void ToGrey(const TStepRun& run) {
  if (run.Free < 1 || !Store.Image[size_t(run.Work)].IsColor) return;
  if (!ConvertColorToMono(run.Work, run.Work, false)) return;
  SetDisplayColorType(run.Work);
  ComputeHistogram(run.Work, false, true);
}

// A step from a copy that says so when no copy can be made.
template <typename F>
void FromCopy(const TStepRun& run, F&& apply) {
  const TStepCopy copy(run);
  if (!copy) {
    ShowStepError(run.Op);
    return;
  }
  apply(copy.Slot());
  UpdateMinMax(run.Work);
}

// "Farbbild in 3 s/w Bilder aufteilen": each plane saved as a grey image named
// prefix + input name in the target folder; the work image is then closed, so
// nothing else is saved for it. A grey image is left as it is.
void SplitPlanes(const TStepRun& run) {
  const int work = run.Work;
  if (!Store.Image[size_t(work)].IsColor) return;
  const TResultNaming naming = RunResultNaming();
  const std::string input = ExtractFileName(BatchRun.InputFileName);
  for (int p = 1; p <= 3 && !BatchRun.EndOfRun; ++p) {
    const int plane = FindFreeSlot();
    if (plane < 1 || !ExtractColourPlane(work, p, plane)) continue;
    const std::string name =
        naming.TargetFolder + WithResultExtension(naming, PlanePrefix(Store.Image[size_t(work)].ColorModel, p) + input);
    Store.FileName[size_t(plane)] = name;
    SaveBatchResultFile(plane, name);
    FreeSlot(plane);
  }
  CloseRunSlot(work);
}

// "Histogramm Funktion": the settings file into the display record; then the
// automatic range (minimum "A..."/"a...", gamma and curve flag kept) or the
// given black and white points with the inner curve points moved along; then
// the display written into the data at the scale of value 4.
void HistogramFunction(const TStepRun& run) {
  const int work = run.Work;
  const std::string& minimum = run.Value(2);
  const bool automatic = !minimum.empty() && std::toupper(static_cast<unsigned char>(minimum[0])) == 'A';
  const double black = automatic ? 0 : StepFloat(minimum);
  const double white = automatic ? 0 : StepFloat(run.Value(3));
  const double scale = StepFloat(run.Value(4));
  UpdateMinMax(work);
  if (!LadeHistogrammeinstellung(work, run.Value(1), false)) return;
  TDisplayRecord& d = Store.Display[size_t(work)];
  if (automatic) {
    const float gamma = d.Gamma;
    const uint8_t curve = d.CurveMode;
    SetAutoDisplayRange(work, true);
    d.Gamma = gamma;
    d.CurveMode = curve;
  } else {
    const double oldBlack = d.Black;
    const double width = std::max(double(d.White) - oldBlack, 0.001);
    const double factor = (white - black) / width;
    for (int k = 1; k <= 5; ++k)
      d.CurvePoints[size_t(k)].X = float((d.CurvePoints[size_t(k)].X - oldBlack) * factor + black);
    d.CurvePoints[0].X = float(black);
    d.CurvePoints[6].X = float(white);
    d.Black = float(black);
    d.White = float(white);
  }
  d.Changed = 1;
  ApplyDisplayStretch(work, scale);
  UpdateMinMax(work);
}

}  // namespace

bool RunColourStep(const TStepRun& run) {
  switch (run.Op) {
    case 13: Debayer(run); return true;
    case 16: ToGrey(run); return true;
    case 24:
      FromCopy(run, [&](int f) { ApplyColorMatrix(f, run.Work, ColorCorrection); });
      return true;
    case 25:
      FromCopy(run, [&](int f) { CorrectFieldDistortion(f, run.Work); });
      return true;
    case 33: SplitPlanes(run); return true;
    case 34: HistogramFunction(run); return true;
    default: return false;
  }
}

}  // namespace astrelon
