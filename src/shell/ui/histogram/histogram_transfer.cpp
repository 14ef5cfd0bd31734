#include "shell/ui/histogram/histogram_transfer.h"

#include <algorithm>
#include <cmath>

#include "shell/display/display_lut.h"
#include "store/image_store.h"

namespace astrelon {

THistogramTransfer::THistogramTransfer(int slot) {
  if (slot < 1 || slot > MaxImageSlots) return;
  const TDisplayRecord& d = Store.Display[size_t(slot)];
  const bool equalise = !(d.Gamma > 0) && d.Gamma != CurveModeGamma;
  TEqualisationInput eq;
  if (equalise) eq = DisplayEqualisationInput(slot, LutSteps);
  TTransferTable t = BuildTransfer(slot, LutSteps, 1.0, equalise ? &eq : nullptr);
  values_ = std::move(t.Values);
  evenOnly_ = t.EvenOnly;
  black_ = d.Black;
  factor_ = LutSteps / std::max(double(d.White) - double(d.Black), 0.001);
}

double THistogramTransfer::At(double v) const {
  if (values_.empty()) return 0.0;
  const double t = (v - black_) * factor_;
  const size_t last = values_.size() - 1;
  const size_t i = !(t > 0) ? 0 : size_t(std::nearbyint(std::min(t, double(last))));
  // The gamma tables hold the even entries; an odd one lies between its neighbours.
  if (evenOnly_ && (i & 1) && i < last) return (values_[i - 1] + values_[i + 1]) / 2;
  return values_[i];
}

}  // namespace astrelon
