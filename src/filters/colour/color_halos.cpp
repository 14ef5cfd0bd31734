// "Farbhöfe verringern": coloured halos around stars (of imperfect optics)
// reduced by limiting the halo colour to the other colours times a gain plus an
// offset.
#include <algorithm>

#include "filters/dialog/pixel_filter_frame.h"
#include "filters/dialog/pixel_filters.h"

namespace astrelon {

namespace {

// The larger valid value of two; blank when neither is valid.
inline float LargerValid(float a, float b) {
  if (!IsValidPixel(a)) return b;
  if (!IsValidPixel(b)) return a;
  return std::max(a, b);
}

}  // namespace

void ReduceColorHalos(TFilterCall& c) {
  TColorPlanes planes;
  if (!PrepareColorCall(c, planes)) return;
  const int choice = c.Radio[2];
  if (choice < 0 || choice > 5) return;
  const double gain = c.Value[1];
  const TImageSlot& src = Store.Image[size_t(c.Source)];
  const double offset = double(c.Value[2]) * (double(src.MaxValue) - src.MinValue + 0.1) * 0.01;
  // Halo planes and the plane(s) that set the limit, per choice: red, green,
  // blue (one halo plane), yellow, magenta, cyan (two).
  struct TChoice {
    int Halo1, Halo2, Other1, Other2;
  };
  constexpr TChoice choices[6] = {{1, 0, 2, 3}, {2, 0, 1, 3}, {3, 0, 1, 2}, {1, 2, 3, 0}, {1, 3, 2, 0}, {3, 2, 1, 0}};
  const TChoice ch = choices[choice];
  const int32_t W = planes.Width;
  const auto& in = planes.In;
  const auto& out = planes.Out;
  ForRectPixels(c, 1, W, [&](int64_t i) {
    for (int p = 1; p <= 3; ++p) out[p][i] = in[p][i];
    if (ch.Halo2 == 0) {
      const float h = in[ch.Halo1][i];
      const float m = LargerValid(in[ch.Other1][i], in[ch.Other2][i]);
      if (!IsValidPixel(h) || !IsValidPixel(m)) return;
      const double limit = m * gain + offset;
      if (h > limit) out[ch.Halo1][i] = float(limit);
    } else {
      const float m = in[ch.Other1][i];
      if (!IsValidPixel(in[ch.Halo1][i]) || !IsValidPixel(in[ch.Halo2][i]) || !IsValidPixel(m)) return;
      const double limit = m * gain + offset;
      for (int h : {ch.Halo1, ch.Halo2})
        if (in[h][i] > limit) out[h][i] = float(limit);
    }
  });
}

}  // namespace astrelon
