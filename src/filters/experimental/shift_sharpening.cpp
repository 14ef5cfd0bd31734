#include "filters/experimental/shift_sharpening.h"

#include <algorithm>
#include <cmath>

#include "core/settings.h"
#include "kernels/colour/color_to_mono.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/parallel_bands.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int64_t MinBandPixels = int64_t(1) << 15;

// fn(first, last) over bands of the interior rows 1 .. h - 2, on all cores
// unless "Multicores" is off; every row is computed the same way whatever the split.
template <class F>
void ForInteriorRows(int32_t w, int32_t h, F&& fn) {
  const int64_t rows = std::max(h - 2, 0);
  const int threads = BandThreads(rows * w, MinBandPixels, Options.Multicore != 0);
  ForEachBand(rows, threads, [&](int64_t a, int64_t b) { fn(int32_t(a + 1), int32_t(b + 1)); });
}

// The shift of every interior pixel (dx, dy planes, 0 on the frame).
struct TShiftField {
  std::vector<float> Dx, Dy;
};

// The source planes resampled at the shifts into the destination's interior;
// blank source pixels and the frame keep their values.
void ResampleAtShifts(int source, int destination, const TShiftField& s) {
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const int32_t w = src.Width, h = src.Height;
  const TSamplingKind linear = SamplingKindOf(IkLinear);
  for (int p = 1; p <= std::min(src.PlaneCount, 3); ++p) {
    const TPlaneView view = PlaneView(source, p);
    if (view.Empty() || dst.Planes[size_t(p)].size() != src.PixelCount()) continue;
    const float* in = src.Planes[size_t(p)].data();
    float* out = dst.Planes[size_t(p)].data();
    ForInteriorRows(w, h, [&](int32_t y0, int32_t y1) {
      for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = 1; x < w - 1; ++x) {
          const size_t i = size_t(y) * size_t(w) + size_t(x);
          if (!IsValidPixel(in[i])) continue;
          out[i] = SamplePoint(view, linear, float(x) + s.Dx[i], float(y) + s.Dy[i]);
        }
    });
  }
}

// Source and destination hold images of the same size, at least 3 x 3.
bool Matching(int source, int destination) {
  if (!SlotInUse(source) || !SlotInUse(destination)) return false;
  const TImageSlot& s = Store.Image[size_t(source)];
  const TImageSlot& d = Store.Image[size_t(destination)];
  return s.Width == d.Width && s.Height == d.Height && s.PlaneCount == d.PlaneCount;
}

float ClampShift(double v, double limit) { return float(std::clamp(v, -limit, limit)); }

}  // namespace

std::vector<float> SobelMagnitude(std::span<const float> a, int32_t w, int32_t h) {
  std::vector<float> m(size_t(w) * size_t(h), 0.0f);
  if (w < 3 || h < 3 || a.size() < m.size()) return m;
  ForInteriorRows(w, h, [&](int32_t y0, int32_t y1) {
    for (int32_t y = y0; y < y1; ++y) {
      const float* u = a.data() + size_t(y - 1) * size_t(w);
      const float* c = u + w;
      const float* d = c + w;
      float* out = m.data() + size_t(y) * size_t(w);
      for (int32_t x = 1; x < w - 1; ++x) {
        const float ul = u[x - 1], um = u[x], ur = u[x + 1], cl = c[x - 1], cr = c[x + 1], dl = d[x - 1],
                    dm = d[x], dr = d[x + 1];
        if (!IsValidPixel(ul) || !IsValidPixel(um) || !IsValidPixel(ur) || !IsValidPixel(cl) || !IsValidPixel(cr) ||
            !IsValidPixel(dl) || !IsValidPixel(dm) || !IsValidPixel(dr) || !IsValidPixel(c[x]))
          continue;
        const float gx = (ul - ur) + (dl - dr) + 2 * (cl - cr);
        const float gy = (ul - dl) + (ur - dr) + 2 * (um - dm);
        out[x] = std::sqrt(gx * gx + gy * gy);
      }
    }
  });
  return m;
}

bool SharpenByGradientShift(int source, int destination, double maximumShift, double strength) {
  if (!Matching(source, destination)) return false;
  UpdateMinMax(destination);
  const TImageSlot& d = Store.Image[size_t(destination)];
  const int32_t w = d.Width, h = d.Height;
  if (w < 3 || h < 3) return true;
  const TPlane grey = GreyPlaneOf(source);
  const std::vector<float> m = SobelMagnitude(grey, w, h);
  double q = (double(d.MaxValue) - double(d.MinValue)) / strength;
  if (!(q >= 0.001)) q = 0.001;  // NaN too
  const double limit = std::isfinite(maximumShift) ? std::fabs(maximumShift) : 0.0;
  TShiftField s{std::vector<float>(m.size(), 0.0f), std::vector<float>(m.size(), 0.0f)};
  ForInteriorRows(w, h, [&](int32_t y0, int32_t y1) {
    for (int32_t y = y0; y < y1; ++y)
      for (int32_t x = 1; x < w - 1; ++x) {
        const size_t i = size_t(y) * size_t(w) + size_t(x);
        s.Dx[i] = ClampShift((double(m[i - 1]) - double(m[i + 1])) / q, limit);
        s.Dy[i] = ClampShift((double(m[i - size_t(w)]) - double(m[i + size_t(w)])) / q, limit);
      }
  });
  ResampleAtShifts(source, destination, s);
  return true;
}

bool ShiftSharpenImage(int source, int destination, double maximumShift, double strength) {
  if (!Matching(source, destination)) return false;
  const TImageSlot& d = Store.Image[size_t(destination)];
  const int32_t w = d.Width, h = d.Height;
  if (w < 3 || h < 3) return true;
  const TPlane grey = GreyPlaneOf(source);
  if (grey.size() < d.PixelCount()) return false;
  const double limit = std::isfinite(maximumShift) ? std::fabs(maximumShift) : 0.0;
  TShiftField s{std::vector<float>(grey.size(), 0.0f), std::vector<float>(grey.size(), 0.0f)};
  ForInteriorRows(w, h, [&](int32_t y0, int32_t y1) {
    for (int32_t y = y0; y < y1; ++y)
      for (int32_t x = 1; x < w - 1; ++x) {
        auto a = [&](int32_t u, int32_t v) { return grey[size_t(v) * size_t(w) + size_t(u)]; };
        const float c = a(x, y);
        if (!IsValidPixel(c)) continue;
        // Similar: closer to the centre than t (a blank neighbour never is).
        auto similar = [&](float v, float t) { return IsValidPixel(v) && std::fabs(c - v) < t; };
        double dy = 0, dx = 0;
        const float up = a(x, y - 1), down = a(x, y + 1);
        if (IsValidPixel(up) && IsValidPixel(down)) {
          const float t = std::fabs(up - down) / 3;
          if (similar(up, t)) dy = y > 1 && similar(a(x, y - 2), t) ? -0.2 : -0.1;
          if (similar(down, t)) dy += y < h - 2 && similar(a(x, y + 2), t) ? 0.2 : 0.1;
          if (similar(a(x - 1, y - 1), t)) dy -= 0.1;
          if (similar(a(x - 1, y + 1), t)) dy += 0.1;
          if (similar(a(x + 1, y - 1), t)) dy -= 0.1;
          if (similar(a(x + 1, y + 1), t)) dy += 0.1;
        }
        const float left = a(x - 1, y), right = a(x + 1, y);
        if (IsValidPixel(left) && IsValidPixel(right)) {
          const float t = std::fabs(right - left) / 3;
          if (similar(left, t)) dx = x > 1 && similar(a(x - 2, y), t) ? -0.2 : -0.1;
          if (similar(right, t)) dx += x < w - 2 && similar(a(x + 2, y), t) ? 0.2 : 0.1;
          if (similar(a(x + 1, y - 1), t)) dx += 0.1;
          if (similar(a(x + 1, y + 1), t)) dx += 0.1;
          if (similar(a(x - 1, y - 1), t)) dx -= 0.1;
          if (similar(a(x - 1, y + 1), t)) dx -= 0.1;
        }
        const size_t i = size_t(y) * size_t(w) + size_t(x);
        s.Dx[i] = ClampShift(dx * strength, limit);
        s.Dy[i] = ClampShift(dy * strength, limit);
      }
  });
  ResampleAtShifts(source, destination, s);
  return true;
}

}  // namespace astrelon
