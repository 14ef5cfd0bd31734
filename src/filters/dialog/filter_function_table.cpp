// The filter functions of the shared dialog, one entry each: the kernel a
// function runs and how the dialog's values become its arguments.
#include <algorithm>
#include <cmath>

#include "core/funktion_defs.h"
#include "filters/corrections/equalize_row_brightness.h"
#include "filters/corrections/star_trail_back_calculation.h"
#include "filters/dialog/filter_functions.h"
#include "filters/dialog/noise_filter_functions.h"
#include "filters/dialog/pixel_filters.h"
#include "filters/network/network_filter_function.h"
#include "filters/sharpening/iterative_gauss_sharpen.h"
#include "filters/sharpening/iterative_psf_sharpen.h"
#include "filters/sharpening/psf/psf_source.h"
#include "filters/sharpening/psf/psf_steepening.h"
#include "filters/sharpening/shrink_star_radius.h"

namespace astrelon {

namespace {

// 8 "Sternradius verkleinern".
void RunShrinkStarRadius(TFilterCall& c) {
  ShrinkStarRadius(c.Source, c.Destination, c.Checked[1], c.Value[1], c.Value[2], c.Value[3], c.Rect, *c.Poll);
}

// 15 "Zeilen gleichhell": relative when "Relativ" is chosen; a second selection
// of the result window gives a second measurement.
void RunEqualizeRowBrightness(TFilterCall& c) {
  std::optional<TColumnRange> second;
  if (c.SecondSelection) second = TColumnRange{c.SecondSelection->Left, c.SecondSelection->Right};
  EqualizeRowBrightness(c.Source, c.Destination, c.Radio[3] == 1, c.Value[1], {c.Rect.x1, c.Rect.x2}, second,
                        *c.Poll);
}

// 9 "PSF schärfen": the cutout as picked and the dialog's steepened copy.
void RunIterativePsfSharpen(TFilterCall& c) { IterativePsfSharpen(c, PsfStore, SteepenedPsf); }

// 10 "Iteratives Gauss schärfen": "Stärke" is read anew in every iteration.
void RunIterativeGaussSharpen(TFilterCall& c) {
  IterativeGaussSharpen(c, [nr = c.Funktion] { return FunktionParamValue(nr, 3); });
}

// 21 "Strichspur zurückrechnen": the trail width rounded, the threshold as set.
void RunStrichspurZurueckrechnen(TFilterCall& c) {
  const float w = std::nearbyint(c.Value[1]);
  StrichspurZurueckrechnen(c.Source, c.Destination, std::isfinite(w) ? int32_t(std::clamp(w, 1.0f, 1e6f)) : 1,
                           c.Value[2], c.Rect, *c.Poll);
}

}  // namespace

void InstallFilterFunktionen() {
  auto computes = [](void (*run)(TFilterCall&)) {
    TFilterFunktion f;
    f.Run = run;
    return f;
  };
  RegisterFilterFunktion(1, computes(UnsmearColumns));
  RegisterFilterFunktion(2, computes(RemoveLinearGradient));
  RegisterFilterFunktion(3, computes(GaussSharpen));
  RegisterFilterFunktion(5, computes(GaussSmooth));
  RegisterFilterFunktion(6, computes(UnsharpMaskLuminance));
  RegisterFilterFunktion(7, computes(AdjustColorSaturation));
  RegisterFilterFunktion(8, computes(RunShrinkStarRadius));
  RegisterFilterFunktion(9, computes(RunIterativePsfSharpen));
  RegisterFilterFunktion(10, computes(RunIterativeGaussSharpen));
  RegisterFilterFunktion(13, computes(DeinterlaceRows));
  RegisterFilterFunktion(15, computes(RunEqualizeRowBrightness));
  RegisterFilterFunktion(21, computes(RunStrichspurZurueckrechnen));
  // The noise filters.
  RegisterFilterFunktion(4, NoiseFilterFunktion());
  RegisterFilterFunktion(12, ColorNoiseFunktion());
  RegisterFilterFunktion(14, MedianFilterFunktion());
  RegisterFilterFunktion(20, NlmFilterFunktion());
  RegisterFilterFunktion(16, computes(LarsonSekanina));
  RegisterFilterFunktion(18, computes(ReduceColorHalos));
  RegisterFilterFunktion(19, computes(AdjustCielab));
  RegisterFilterFunktion(17, NetworkFilterFunktion());
}

}  // namespace astrelon
