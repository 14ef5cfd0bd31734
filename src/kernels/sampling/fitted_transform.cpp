#include "kernels/sampling/fitted_transform.h"

namespace astrelon {

TFittedTransform BatchFittedTransform;

}  // namespace astrelon
