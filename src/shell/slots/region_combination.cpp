#include "shell/slots/region_combination.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/simd_support.h"
#include "store/display/display_histogram.h"

namespace astrelon {

namespace {

void CombineRunScalar(const float* a, const float* b, float* d, size_t n, bool subtract) {
  if (subtract) {
    for (size_t i = 0; i < n; ++i) d[i] = IsValidPixel(a[i]) ? a[i] - b[i] : BlankPixel;
  } else {
    for (size_t i = 0; i < n; ++i) d[i] = IsValidPixel(a[i]) ? a[i] + b[i] : BlankPixel;
  }
}

#if ASTRELON_HAVE_SSE2
// Four pixels at a time: the sum (or difference) where A is valid, else the
// blank value. A NaN in A compares false and gives a blank, as in the scalar loop.
template <bool Subtract>
size_t CombineRunSse2(const float* a, const float* b, float* d, size_t n) {
  const __m128 limit = _mm_set1_ps(BlankLimit);
  const __m128 blank = _mm_set1_ps(BlankPixel);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128 a0 = _mm_loadu_ps(a + i), a1 = _mm_loadu_ps(a + i + 4);
    const __m128 b0 = _mm_loadu_ps(b + i), b1 = _mm_loadu_ps(b + i + 4);
    const __m128 r0 = Subtract ? _mm_sub_ps(a0, b0) : _mm_add_ps(a0, b0);
    const __m128 r1 = Subtract ? _mm_sub_ps(a1, b1) : _mm_add_ps(a1, b1);
    const __m128 m0 = _mm_cmpgt_ps(a0, limit), m1 = _mm_cmpgt_ps(a1, limit);
    _mm_storeu_ps(d + i, _mm_or_ps(_mm_and_ps(m0, r0), _mm_andnot_ps(m0, blank)));
    _mm_storeu_ps(d + i + 4, _mm_or_ps(_mm_and_ps(m1, r1), _mm_andnot_ps(m1, blank)));
  }
  return i;
}
#endif

}  // namespace

void CombineRun(std::span<const float> a, std::span<const float> b, std::span<float> d, int32_t op, bool vector) {
  const size_t n = std::min(a.size(), d.size());
  if (op == CombineCopy) {
    if (n > 0 && a.data() != d.data()) std::memmove(d.data(), a.data(), n * sizeof(float));
    return;
  }
  if (op != CombineAdd && op != CombineSubtract) return;
  const size_t m = std::min(n, b.size());
  const bool subtract = op == CombineSubtract;
  size_t done = 0;
#if ASTRELON_HAVE_SSE2
  if (vector)
    done = subtract ? CombineRunSse2<true>(a.data(), b.data(), d.data(), m)
                    : CombineRunSse2<false>(a.data(), b.data(), d.data(), m);
#endif
  CombineRunScalar(a.data() + done, b.data() + done, d.data() + done, m - done, subtract);
}

bool CombineRegionPixels(int slotA, int slotB, int slotDest, const TRectI& rect, int32_t op) {
  if (op != CombineCopy && op != CombineAdd && op != CombineSubtract) return false;
  if (!SlotInUse(slotA) || !SlotInUse(slotB) || !SlotInUse(slotDest)) return false;
  const TImageSlot& A = Store.Image[size_t(slotA)];
  const TImageSlot& B = Store.Image[size_t(slotB)];
  TImageSlot& D = Store.Image[size_t(slotDest)];
  if (A.Width != B.Width || D.Width != B.Width || A.PlaneCount != B.PlaneCount || D.PlaneCount != B.PlaneCount)
    return false;
  const int32_t minHeight = std::min({A.Height, B.Height, D.Height});
  if (rect.Left < 0 || rect.Top < 0 || rect.Left > rect.Right || rect.Top > rect.Bottom || rect.Right >= B.Width ||
      rect.Bottom >= minHeight)
    return false;

  std::vector<int> planes;
  for (int p = FirstChannel(slotB); p >= 1 && p <= B.PlaneCount && p <= 3; NextChannel(slotB, p)) planes.push_back(p);
  for (int p : planes)
    for (const TImageSlot* s : {&A, &B, static_cast<const TImageSlot*>(&D)})
      if (s->Planes[size_t(p)].size() < s->PixelCount()) return false;
  if (planes.empty()) return true;

  const int64_t rows = int64_t(rect.Bottom) - rect.Top + 1;
  const size_t width = size_t(rect.Right - rect.Left + 1);
  const size_t stride = size_t(B.Width);
  const int64_t count = rows * int64_t(planes.size());
  const bool vector = Sse2Enabled;
  const int threads = BandThreads(count * int64_t(width), int64_t(1) << 16, Options.Multicore != 0);
  ForEachBand(count, threads, [&](int64_t first, int64_t last) {
    for (int64_t k = first; k < last; ++k) {
      const size_t p = size_t(planes[size_t(k / rows)]);
      const size_t offset = size_t(rect.Top + k % rows) * stride + size_t(rect.Left);
      CombineRun(std::span<const float>(A.Planes[p]).subspan(offset, width),
                 std::span<const float>(B.Planes[p]).subspan(offset, width),
                 std::span<float>(D.Planes[p]).subspan(offset, width), op, vector);
    }
  });
  return true;
}

}  // namespace astrelon
