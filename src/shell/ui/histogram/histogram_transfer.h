#pragma once
// The renderer's transfer of a slot as a function of the image value, for the
// curve that the histogram window draws over its histogram: the same table the
// renderer fills (gamma, softened gamma, equalisation mix, smooth or polygon
// curve), read at the entry nearest to a value.
#include <vector>

namespace astrelon {

class THistogramTransfer {
public:
  // The slot's transfer as its display record stands.
  explicit THistogramTransfer(int slot);
  // Output 0..1 at an image value (values outside black..white take the end entries).
  double At(double v) const;

private:
  std::vector<double> values_;
  bool evenOnly_ = false;
  double black_ = 0;
  double factor_ = 0;  // table entries per value unit
};

}  // namespace astrelon
