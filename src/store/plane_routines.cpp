#include "store/plane_routines.h"

#include "store/image_slot.h"

namespace astrelon {

void RectMinMax(std::span<float> data, int32_t w, int32_t h, int64_t stride, float& min, float& max, bool vector) {
  float mn = 1e20f, mx = -1e20f;
  for (int32_t y = 0; y < h; ++y) {
    float* row = data.data() + y * stride;
    for (int32_t x = 0; x < w; ++x) {
      float v = row[x];
      if (v > NoMinimum) row[x] = v = NoMinimum;
      if (IsValidPixel(v)) {
        if (v < mn) mn = v;
        if (v > mx) mx = v;
      }
    }
  }
  if (mn >= NoMinimum) {
    mn = 0.0f;
    mx = 1.0f;
  }
  min = mn;
  max = mx;
}

void RectSum(std::span<const float> data, int32_t w, int32_t h, int64_t stride, double& sum, int64_t& count,
             bool vector) {
  double s = 0;
  int64_t c = 0;
  for (int32_t y = 0; y < h; ++y) {
    const float* row = data.data() + y * stride;
    for (int32_t x = 0; x < w; ++x)
      if (IsValidPixel(row[x])) {
        s += row[x];
        ++c;
      }
  }
  sum = s;
  count = c;
}

}  // namespace astrelon
