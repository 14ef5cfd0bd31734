#include "pixelops/remove_hot_pixels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include "core/busy_cursor.h"
#include "core/settings.h"
#include "pixelops/rect_runs.h"
#include "platform/parallel_bands.h"
#include "platform/simd_support.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

// The decision for one pixel. The neighbours' mean and spread leave out one
// smallest and one largest neighbour: m is the mean of the rest and the spread
// their standard deviation (taken about m, which keeps it exact beside a hot
// neighbour). d is the cross offset median(N, W, E, S, c) - median(NW, NE, SW, SE).
// The pixel stays when it lies within m + d -/+ (spread * k + noise).
//
// A pixel whose eight neighbours are all valid goes through the fixed network
// below, which the eight-wide path runs lane for lane in the same order; pixels
// beside blanks go through the general form.

float Min(float a, float b) { return b < a ? b : a; }
float Max(float a, float b) { return b > a ? b : a; }

// Median of a sorted list of n values (n >= 1): the middle one, or halfway
// between the two middle ones.
float SortedMedian(const float* s, int n) {
  const int h = n / 2;
  if (n & 1) return s[h];
  return (s[h] - s[h - 1]) * 0.5f + s[h - 1];
}

void SortSmall(float* v, int n) {
  for (int i = 1; i < n; ++i) {
    const float x = v[i];
    int j = i - 1;
    while (j >= 0 && v[j] > x) {
      v[j + 1] = v[j];
      --j;
    }
    v[j + 1] = x;
  }
}

struct TDecision {
  bool Replace = false;
  float Value = 0;
};

// Neighbours in the order NW, N, NE, W, E, SW, S, SE, all valid.
TDecision DecideFull(const std::array<float, 8>& a, float c, float k, float noise) {
  // One smallest and one largest out: pairwise compare, then the smallest of the
  // four lows and the largest of the four highs.
  const float L0 = Min(a[0], a[1]), H0 = Max(a[0], a[1]);
  const float L1 = Min(a[2], a[3]), H1 = Max(a[2], a[3]);
  const float L2 = Min(a[4], a[5]), H2 = Max(a[4], a[5]);
  const float L3 = Min(a[6], a[7]), H3 = Max(a[6], a[7]);
  const float l0 = Min(L0, L1), l1 = Max(L0, L1);
  const float l2 = Min(L2, L3), l3 = Max(L2, L3);
  const float lr = Max(l0, l2);
  const float h0 = Min(H0, H1), h1 = Max(H0, H1);
  const float h2 = Min(H2, H3), h3 = Max(H2, H3);
  const float hr = Min(h1, h3);
  const float m = (((((l1 + lr) + l3) + h0) + h2) + hr) / 6.0f;
  const float q = ((((((l1 - m) * (l1 - m) + (lr - m) * (lr - m)) + (l3 - m) * (l3 - m)) + (h0 - m) * (h0 - m)) +
                    (h2 - m) * (h2 - m)) +
                   (hr - m) * (hr - m)) /
                  6.0f;
  const float sd = std::sqrt(q);
  // median(N, W, E, S, c): c clamped between the two middle values of the four.
  const float f = Max(Min(a[1], a[3]), Min(a[4], a[6]));
  const float g = Min(Max(a[1], a[3]), Max(a[4], a[6]));
  const float med5 = Max(Min(f, g), Min(Max(f, g), c));
  // median(NW, NE, SW, SE): halfway between the two middle values.
  const float fd = Max(Min(a[0], a[2]), Min(a[5], a[7]));
  const float gd = Min(Max(a[0], a[2]), Max(a[5], a[7]));
  const float s1 = Min(fd, gd), s2 = Max(fd, gd);
  const float med4 = (s2 - s1) * 0.5f + s1;
  const float d = med5 - med4;
  const float t = sd * k + noise;
  const float md = m + d;
  const bool stay = md - t <= c && c <= md + t;
  const float value = med5 + d;
  return {!stay && IsValidPixel(value), value};
}

// Any mix of valid and blank neighbours.
TDecision DecideGeneral(const std::array<float, 8>& a, float c, float k, float noise) {
  std::array<float, 8> valid;
  int count = 0;
  for (float v : a)
    if (IsValidPixel(v)) valid[size_t(count++)] = v;
  if (count < 4) return {};
  std::array<float, 5> orth;
  std::array<float, 4> diag;
  int no = 0, nd = 0;
  for (int i : {1, 3, 4, 6})
    if (IsValidPixel(a[size_t(i)])) orth[size_t(no++)] = a[size_t(i)];
  for (int i : {0, 2, 5, 7})
    if (IsValidPixel(a[size_t(i)])) diag[size_t(nd++)] = a[size_t(i)];
  SortSmall(valid.data(), count);
  const float n = float(count - 2);
  float sum = 0;
  for (int i = 1; i <= count - 2; ++i) sum += valid[size_t(i)];
  const float m = sum / n;
  float q = 0;
  for (int i = 1; i <= count - 2; ++i) q += (valid[size_t(i)] - m) * (valid[size_t(i)] - m);
  const float sd = std::sqrt(q / n);
  float d = 0;
  if (no >= 3 && nd >= 3) {
    orth[size_t(no++)] = c;
    SortSmall(diag.data(), nd);
    SortSmall(orth.data(), no);
    d = SortedMedian(orth.data(), no) - SortedMedian(diag.data(), nd);
  } else {
    SortSmall(orth.data(), no);
  }
  const float t = sd * k + noise;
  const float md = m + d;
  if (md - t <= c && c <= md + t) return {};
  const float value = no > 2 ? SortedMedian(orth.data(), no) + d : md;
  return {IsValidPixel(value), value};
}

// Decides pixel x of row `mid` and writes a replacement; true when replaced.
bool ScanPixel(const float* up, float* mid, const float* down, int32_t x, float k, float noise) {
  const float c = mid[x];
  if (!IsValidPixel(c)) return false;
  const std::array<float, 8> a{up[x - 1], up[x], up[x + 1], mid[x - 1], mid[x + 1], down[x - 1], down[x], down[x + 1]};
  bool full = true;
  for (float v : a) full = full && IsValidPixel(v);
  const TDecision r = full ? DecideFull(a, c, k, noise) : DecideGeneral(a, c, k, noise);
  if (r.Replace) mid[x] = r.Value;
  return r.Replace;
}

void ScanRowScalar(const float* up, float* mid, const float* down, int32_t x1, int32_t x2, float k, float noise) {
  for (int32_t x = x1; x <= x2; ++x) ScanPixel(up, mid, down, x, k, noise);
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 inline __m256 Load(const float* p) { return _mm256_loadu_ps(p); }
// _mm256_min_ps(b, a) is b < a ? b : a, as Min(a, b); likewise for the maximum.
ASTRELON_AVX2 inline __m256 Mn(__m256 a, __m256 b) { return _mm256_min_ps(b, a); }
ASTRELON_AVX2 inline __m256 Mx(__m256 a, __m256 b) { return _mm256_max_ps(b, a); }
ASTRELON_AVX2 inline __m256 Square(__m256 v, __m256 m) {
  const __m256 e = _mm256_sub_ps(v, m);
  return _mm256_mul_ps(e, e);
}

// Eight pixels at a time where all 27 values around them are valid; DecideFull
// lane for lane. A replaced pixel is the west neighbour of the next one, whose
// lane was decided on the old value: that pixel is decided again alone, and so
// on while replacements follow each other.
ASTRELON_AVX2 void ScanRowAvx2(const float* up, float* mid, const float* down, int32_t x1, int32_t x2, float k,
                               float noise) {
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  const __m256 six = _mm256_set1_ps(6.0f), half = _mm256_set1_ps(0.5f);
  const __m256 vk = _mm256_set1_ps(k), vnoise = _mm256_set1_ps(noise);
  alignas(32) float values[8];
  int32_t x = x1;
  for (; x + 7 <= x2; x += 8) {
    const __m256 a0 = Load(up + x - 1), a1 = Load(up + x), a2 = Load(up + x + 1);
    const __m256 a3 = Load(mid + x - 1), c = Load(mid + x), a4 = Load(mid + x + 1);
    const __m256 a5 = Load(down + x - 1), a6 = Load(down + x), a7 = Load(down + x + 1);
    __m256 ok = _mm256_and_ps(_mm256_cmp_ps(a0, limit, _CMP_GT_OQ), _mm256_cmp_ps(a1, limit, _CMP_GT_OQ));
    ok = _mm256_and_ps(ok, _mm256_and_ps(_mm256_cmp_ps(a2, limit, _CMP_GT_OQ), _mm256_cmp_ps(a3, limit, _CMP_GT_OQ)));
    ok = _mm256_and_ps(ok, _mm256_and_ps(_mm256_cmp_ps(a4, limit, _CMP_GT_OQ), _mm256_cmp_ps(a5, limit, _CMP_GT_OQ)));
    ok = _mm256_and_ps(ok, _mm256_and_ps(_mm256_cmp_ps(a6, limit, _CMP_GT_OQ), _mm256_cmp_ps(a7, limit, _CMP_GT_OQ)));
    ok = _mm256_and_ps(ok, _mm256_cmp_ps(c, limit, _CMP_GT_OQ));
    if (_mm256_movemask_ps(ok) != 0xFF) {
      ScanRowScalar(up, mid, down, x, x + 7, k, noise);
      continue;
    }
    const __m256 L0 = Mn(a0, a1), H0 = Mx(a0, a1), L1 = Mn(a2, a3), H1 = Mx(a2, a3);
    const __m256 L2 = Mn(a4, a5), H2 = Mx(a4, a5), L3 = Mn(a6, a7), H3 = Mx(a6, a7);
    const __m256 l0 = Mn(L0, L1), l1 = Mx(L0, L1), l2 = Mn(L2, L3), l3 = Mx(L2, L3);
    const __m256 lr = Mx(l0, l2);
    const __m256 h0 = Mn(H0, H1), h1 = Mx(H0, H1), h2 = Mn(H2, H3), h3 = Mx(H2, H3);
    const __m256 hr = Mn(h1, h3);
    __m256 s = _mm256_add_ps(l1, lr);
    s = _mm256_add_ps(s, l3);
    s = _mm256_add_ps(s, h0);
    s = _mm256_add_ps(s, h2);
    s = _mm256_add_ps(s, hr);
    const __m256 m = _mm256_div_ps(s, six);
    __m256 q = _mm256_add_ps(Square(l1, m), Square(lr, m));
    q = _mm256_add_ps(q, Square(l3, m));
    q = _mm256_add_ps(q, Square(h0, m));
    q = _mm256_add_ps(q, Square(h2, m));
    q = _mm256_add_ps(q, Square(hr, m));
    const __m256 sd = _mm256_sqrt_ps(_mm256_div_ps(q, six));
    const __m256 f = Mx(Mn(a1, a3), Mn(a4, a6)), g = Mn(Mx(a1, a3), Mx(a4, a6));
    const __m256 med5 = Mx(Mn(f, g), Mn(Mx(f, g), c));
    const __m256 fd = Mx(Mn(a0, a2), Mn(a5, a7)), gd = Mn(Mx(a0, a2), Mx(a5, a7));
    const __m256 s1 = Mn(fd, gd), s2 = Mx(fd, gd);
    const __m256 med4 = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(s2, s1), half), s1);
    const __m256 d = _mm256_sub_ps(med5, med4);
    const __m256 t = _mm256_add_ps(_mm256_mul_ps(sd, vk), vnoise);
    const __m256 md = _mm256_add_ps(m, d);
    const __m256 stay = _mm256_and_ps(_mm256_cmp_ps(_mm256_sub_ps(md, t), c, _CMP_LE_OQ),
                                      _mm256_cmp_ps(c, _mm256_add_ps(md, t), _CMP_LE_OQ));
    const __m256 value = _mm256_add_ps(med5, d);
    const int replace =
        _mm256_movemask_ps(_mm256_andnot_ps(stay, _mm256_cmp_ps(value, limit, _CMP_GT_OQ)));
    if (replace == 0) continue;
    _mm256_store_ps(values, value);
    bool stale = false;
    for (int j = 0; j < 8; ++j) {
      if (stale) {
        stale = ScanPixel(up, mid, down, x + j, k, noise);
      } else if (replace & (1 << j)) {
        mid[x + j] = values[j];
        stale = true;
      }
    }
  }
  ScanRowScalar(up, mid, down, x, x2, k, noise);
}
#endif

}  // namespace

void RemoveHotPixelsPlane(std::span<float> plane, int32_t w, int32_t h, int32_t x1, int32_t x2, int32_t y1, int32_t y2,
                          float factor, float noise, bool vector) {
  if (x2 < x1 || y2 < y1) return;
  if (x1 < 1 || y1 < 1 || x2 > w - 2 || y2 > h - 2) throw std::invalid_argument("RemoveHotPixelsPlane: rectangle touches the border");
  CheckRect(plane.size(), w, h, w);
  const float k = factor / 1.5f;
  float* p = plane.data();
  const size_t W = size_t(w);
  for (int32_t y = y1; y <= y2; ++y) {
    const float* up = p + size_t(y - 1) * W;
    float* mid = p + size_t(y) * W;
    const float* down = p + size_t(y + 1) * W;
#if ASTRELON_HAVE_AVX2
    if (UseAvx2(vector)) {
      ScanRowAvx2(up, mid, down, x1, x2, k, noise);
      continue;
    }
#endif
    ScanRowScalar(up, mid, down, x1, x2, k, noise);
  }
}

void RemoveHotPixels(int slot, int32_t x1, int32_t x2, int32_t y1, int32_t y2, float factor) {
  if (!SlotInUse(slot)) return;
  TBusyCursorScope busy;
  TImageSlot& im = Store.Image[size_t(slot)];
  x1 = std::max(x1, 1);
  y1 = std::max(y1, 1);
  x2 = std::min(x2, im.Width - 2);
  y2 = std::min(y2, im.Height - 2);
  if (x2 < x1 || y2 < y1) return;
  const TPlaneList planes = SelectedChannels(slot);
  std::array<float, 3> noise{};
  for (int i = 0; i < planes.Count; ++i) noise[size_t(i)] = EstimatePlaneNoise(slot, planes.Plane[size_t(i)]);
  // The scan of a plane is sequential; the planes are independent.
  const int threads = Options.Multicore ? planes.Count : 1;
  ForEachBand(planes.Count, threads, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      TPlane& plane = im.Planes[size_t(planes.Plane[size_t(i)])];
      if (plane.size() < im.PixelCount()) continue;
      RemoveHotPixelsPlane(plane, im.Width, im.Height, x1, x2, y1, y2, factor, noise[size_t(i)], Sse2Enabled);
    }
  });
}

}  // namespace astrelon
