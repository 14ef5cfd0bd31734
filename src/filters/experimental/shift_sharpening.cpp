#include "filters/experimental/shift_sharpening.h"

#include <algorithm>
#include <cmath>

#include "core/settings.h"
#include "filters/experimental/shift_resample.h"
#include "kernels/colour/color_to_mono.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/color_models.h"
#include "store/image_store.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The destination's interior resampled from the source at the shifts that
// rowShift(y, dx, dy) writes for columns 1 .. width - 2 of row y, rows in bands
// over the cores; blank source pixels and the frame keep their values.
template <class F>
void ResampleAtShifts(int source, int destination, F&& rowShift) {
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const int32_t w = src.Width, h = src.Height;
  TShiftPlanes planes;
  planes.Count = std::min(src.PlaneCount, 3);
  for (int p = 1; p <= planes.Count; ++p) {
    planes.View[size_t(p - 1)] = PlaneView(source, p);
    if (planes.View[size_t(p - 1)].Empty() || dst.Planes[size_t(p)].size() != src.PixelCount()) return;
    planes.Out[size_t(p - 1)] = dst.Planes[size_t(p)].data();
  }
  const bool vector = Sse2Enabled;
  ForInteriorRows(w, h, [&](int32_t y0, int32_t y1) {
    std::vector<float> dx(size_t(w), 0.0f), dy(size_t(w), 0.0f);
    for (int32_t y = y0; y < y1; ++y) {
      rowShift(y, dx.data(), dy.data());
      ResampleShiftedRow(planes, y, dx.data(), dy.data(), vector);
    }
  });
}

// v limited to -limit..limit (a NaN becomes -limit).
inline float Limit(float v, float limit) {
  v = v > -limit ? v : -limit;
  return v < limit ? v : limit;
}

// Source and destination hold images of the same size, at least 3 x 3.
bool Matching(int source, int destination) {
  if (!SlotInUse(source) || !SlotInUse(destination)) return false;
  const TImageSlot& s = Store.Image[size_t(source)];
  const TImageSlot& d = Store.Image[size_t(destination)];
  return s.Width == d.Width && s.Height == d.Height && s.PlaneCount == d.PlaneCount;
}

float ClampShift(double v, double limit) { return Limit(float(v), float(limit)); }

}  // namespace

void SobelRow(const float* u, const float* c, const float* d, float* out, int32_t w, bool vector) {
  auto one = [&](int32_t x) {
    const float ul = u[x - 1], um = u[x], ur = u[x + 1], cl = c[x - 1], cr = c[x + 1], dl = d[x - 1], dm = d[x],
                dr = d[x + 1];
    const bool valid = IsValidPixel(ul) && IsValidPixel(um) && IsValidPixel(ur) && IsValidPixel(cl) &&
                       IsValidPixel(c[x]) && IsValidPixel(cr) && IsValidPixel(dl) && IsValidPixel(dm) &&
                       IsValidPixel(dr);
    const float gx = (ul - ur) + (dl - dr) + 2 * (cl - cr);
    const float gy = (ul - dl) + (ur - dr) + 2 * (um - dm);
    out[x] = valid ? std::sqrt(gx * gx + gy * gy) : 0.0f;
  };
  out[0] = 0;
  if (w > 1) out[w - 1] = 0;
  int32_t x = 1;
#if defined(__SSE2__)
  if (vector) {
    const __m128 limit = _mm_set1_ps(BlankLimit), two = _mm_set1_ps(2.0f);
    auto ok = [&](__m128 v) { return _mm_cmpgt_ps(v, limit); };
    for (; x + 4 <= w - 1; x += 4) {
      const __m128 ul = _mm_loadu_ps(u + x - 1), um = _mm_loadu_ps(u + x), ur = _mm_loadu_ps(u + x + 1);
      const __m128 cl = _mm_loadu_ps(c + x - 1), cm = _mm_loadu_ps(c + x), cr = _mm_loadu_ps(c + x + 1);
      const __m128 dl = _mm_loadu_ps(d + x - 1), dm = _mm_loadu_ps(d + x), dr = _mm_loadu_ps(d + x + 1);
      const __m128 valid = _mm_and_ps(
          _mm_and_ps(_mm_and_ps(ok(ul), ok(um)), _mm_and_ps(ok(ur), ok(cl))),
          _mm_and_ps(_mm_and_ps(ok(cm), ok(cr)), _mm_and_ps(_mm_and_ps(ok(dl), ok(dm)), ok(dr))));
      const __m128 gx = _mm_add_ps(_mm_add_ps(_mm_sub_ps(ul, ur), _mm_sub_ps(dl, dr)), _mm_mul_ps(two, _mm_sub_ps(cl, cr)));
      const __m128 gy = _mm_add_ps(_mm_add_ps(_mm_sub_ps(ul, dl), _mm_sub_ps(ur, dr)), _mm_mul_ps(two, _mm_sub_ps(um, dm)));
      const __m128 m = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(gx, gx), _mm_mul_ps(gy, gy)));
      _mm_storeu_ps(out + x, _mm_and_ps(valid, m));
    }
  }
#endif
  for (; x < w - 1; ++x) one(x);
}

std::vector<float> SobelMagnitude(std::span<const float> a, int32_t w, int32_t h) {
  std::vector<float> m(size_t(std::max(w, 0)) * size_t(std::max(h, 0)), 0.0f);
  if (w < 3 || h < 3 || a.size() < m.size()) return m;
  ForInteriorRows(w, h, [&](int32_t y0, int32_t y1) {
    for (int32_t y = y0; y < y1; ++y) {
      const float* c = a.data() + size_t(y) * size_t(w);
      SobelRow(c - w, c, c + w, m.data() + size_t(y) * size_t(w), w, Sse2Enabled);
    }
  });
  return m;
}

bool SharpenByGradientShift(int source, int destination, double maximumShift, double strength) {
  if (!Matching(source, destination)) return false;
  UpdateMinMax(destination);
  const TImageSlot& d = Store.Image[size_t(destination)];
  const TImageSlot& s = Store.Image[size_t(source)];
  const int32_t w = d.Width, h = d.Height;
  if (w < 3 || h < 3) return true;
  double q = (double(d.MaxValue) - double(d.MinValue)) / strength;
  if (!(q >= 0.001)) q = 0.001;  // NaN too
  const double limit = std::isfinite(maximumShift) ? std::fabs(maximumShift) : 0.0;
  const float inverse = float(1.0 / q), lim = float(limit);
  const bool luma = HasColourPlanes(source) && s.ColorModel != CmYuv;
  const bool vector = Sse2Enabled;
  // Each band streams its rows: grey rows (the luma of a colour image) and
  // Sobel magnitude rows in rings of three, made as the rows are reached.
  const size_t row = size_t(w);
  TShiftPlanes planes;
  planes.Count = std::min(s.PlaneCount, 3);
  for (int p = 1; p <= planes.Count; ++p) {
    planes.View[size_t(p - 1)] = PlaneView(source, p);
    if (planes.View[size_t(p - 1)].Empty() || d.Planes[size_t(p)].size() != s.PixelCount()) return true;
    planes.Out[size_t(p - 1)] = Store.Image[size_t(destination)].Planes[size_t(p)].data();
  }
  ForInteriorRows(w, h, [&](int32_t y0, int32_t y1) {
    std::vector<float> grey(3 * row), mag(3 * row), dx(row), dy(row);
    int32_t nextGrey = std::max(y0 - 2, 0), nextMag = y0 - 1;
    auto greyRow = [&](int32_t r) -> const float* {
      if (!luma) return s.Planes[1].data() + size_t(r) * row;
      return grey.data() + size_t(r % 3) * row;
    };
    auto magRow = [&](int32_t r) { return mag.data() + size_t(r % 3) * row; };
    for (int32_t y = y0; y < y1; ++y) {
      for (; nextMag <= y + 1; ++nextMag) {
        const int32_t r = nextMag;
        if (r <= 0 || r >= h - 1) {
          std::fill_n(magRow(r), row, 0.0f);
          continue;
        }
        for (; nextGrey <= r + 1; ++nextGrey)
          if (luma) {
            const size_t o = size_t(nextGrey) * row;
            LumaRun(s.Plane(1).subspan(o, row), s.Plane(2).subspan(o, row), s.Plane(3).subspan(o, row),
                    std::span<float>(grey).subspan(size_t(nextGrey % 3) * row, row));
          }
        SobelRow(greyRow(r - 1), greyRow(r), greyRow(r + 1), magRow(r), w, vector);
      }
      const float* m = magRow(y);
      const float* up = magRow(y - 1);
      const float* down = magRow(y + 1);
      for (int32_t x = 1; x < w - 1; ++x) {
        dx[size_t(x)] = Limit((m[x - 1] - m[x + 1]) * inverse, lim);
        dy[size_t(x)] = Limit((up[x] - down[x]) * inverse, lim);
      }
      ResampleShiftedRow(planes, y, dx.data(), dy.data(), vector);
    }
  });
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
  auto rowShiftImage = [&](int32_t x, int32_t y, float& shiftX, float& shiftY) {
    shiftX = shiftY = 0;
    auto a = [&](int32_t u, int32_t v) { return grey[size_t(v) * size_t(w) + size_t(u)]; };
    const float c = a(x, y);
    if (!IsValidPixel(c)) return;
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
    shiftX = ClampShift(dx * strength, limit);
    shiftY = ClampShift(dy * strength, limit);
  };
  ResampleAtShifts(source, destination, [&](int32_t y, float* rowDx, float* rowDy) {
    for (int32_t x = 1; x < w - 1; ++x) rowShiftImage(x, y, rowDx[x], rowDy[x]);
  });
  return true;
}

}  // namespace astrelon
