#pragma once
// The state behind the frequency-filter dialog: the mode (rows or the 2D
// spectrum), the filter curves and, in 2D mode, the spectrum slot of the image
// the curves were measured on. "&Berechnen" applies the curves' ratio to the
// result slot; each run starts from the measured image again.
#include <cstdint>

#include "frequency/filter/filter_curves.h"
#include "frequency/filter/row_filter_1d.h"
#include "kernels/regions/rect_runs.h"

namespace astrelon {

class TFrequencyFilter {
public:
  TFrequencyFilter() = default;
  ~TFrequencyFilter() { CloseSpectrum(); }
  TFrequencyFilter(const TFrequencyFilter&) = delete;
  TFrequencyFilter& operator=(const TFrequencyFilter&) = delete;

  bool TwoD = true;
  // Outer margin of the 2D spectrum (the setting, read when the dialog shows).
  int32_t Outer = 8;
  TFilterCurves Curves;

  // S of the slot's listed planes (2D: radial mean of its spectrum, which is
  // kept; 1D: mean row spectrum, bright pixels left out with omitBright); then
  // C = S, B = C. False, with the curves emptied, when the slot cannot be
  // transformed (no free slot for the spectrum, no pixels).
  bool ComputeFilterSpectrum(int slot, const TPlaneList& planes, bool omitBright);
  // "&Berechnen": the response on the listed planes of `result`. 2D: from the
  // kept spectrum (the other planes of `result` stay); 1D: from the rows of
  // `source`. False when nothing was computed (no spectrum, no free slot).
  bool Apply(int source, int result, const TPlaneList& planes, const TRowFilterOptions& options);
  // Frees the kept spectrum slot.
  void CloseSpectrum();
  int SpectrumSlot() const { return spectrum_; }

private:
  bool Apply2D(int result, const TPlaneList& planes);
  int spectrum_ = -1;
};

}  // namespace astrelon
