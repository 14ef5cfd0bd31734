#pragma once
// The Gauss blurs of the flux balance on a region of the working rectangle:
// the Gauss family's table kernel (w(i) = e^(-(i/r)²) up to its half window),
// a pass down the columns and then one along the rows, each value the weighted
// sum of the taps inside the rectangle (the centre, then the pairs at -i and +i
// added first) over their weights. A value does not depend on the region it is
// computed in, so the balance gives the same result however the rectangle is
// cut into regions and threads; the vector loops give the bits of the scalar one.
#include <array>
#include <cstdint>

namespace astrelon {

struct TBlurTaps {
  std::array<float, 256> W{};
  int32_t N = 0;      // half window
  float Full = 0;     // the weights of a whole window, summed as a value's are
};
TBlurTaps BlurTaps(float radius);

// Values of a region of the rectangle: the pixel at (y, x) of the rectangle
// lies at Data[(y - Y0) * Stride + (x - X0)].
struct TRegion {
  float* Data = nullptr;
  int32_t X0 = 0, Y0 = 0, Stride = 0;
  float* Row(int64_t y) const { return Data + (y - Y0) * Stride - X0; }
};

// Pass down the columns: `out` at rows [ya, yb] and columns [xa, xb] from `in`
// at the rows within the taps and within [0, rows) (all held by `in`).
void BlurColumns(const TRegion& in, const TRegion& out, int32_t ya, int32_t yb, int32_t xa, int32_t xb, int32_t rows,
                 const TBlurTaps& t, bool vector);
// Pass along the rows, the same within the columns [0, columns).
void BlurRows(const TRegion& in, const TRegion& out, int32_t ya, int32_t yb, int32_t xa, int32_t xb, int32_t columns,
              const TBlurTaps& t, bool vector);

}  // namespace astrelon
