#include "store/color_models.h"

#include <stdexcept>

#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/pixel_blocks.h"

namespace astrelon {

void (*ReleaseWindowUndoHook)(int slot) = nullptr;

namespace {

template <TRgbPixel (*Pixel)(float, float, float)>
void ConvertScalar(float* a, float* b, float* c, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (!IsValidPixel(a[i]) || !IsValidPixel(b[i]) || !IsValidPixel(c[i])) {
      a[i] = b[i] = c[i] = BlankPixel;
      continue;
    }
    const TRgbPixel q = Pixel(a[i], b[i], c[i]);
    a[i] = q.R;
    b[i] = q.G;
    c[i] = q.B;
  }
}

#if ASTRELON_HAVE_SSE2
// Lanes where any plane is blank (or NaN) get the blank value, without branches.
inline __m128 Blanked(__m128 v, __m128 valid) {
  return _mm_or_ps(_mm_and_ps(valid, v), _mm_andnot_ps(valid, _mm_set1_ps(BlankPixel)));
}
inline __m128 ValidMask(__m128 a, __m128 b, __m128 c) {
  const __m128 lim = _mm_set1_ps(BlankLimit);
  return _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(a, lim), _mm_cmpgt_ps(b, lim)), _mm_cmpgt_ps(c, lim));
}

size_t RgbToYuvSse2(float* pr, float* pg, float* pb, size_t n) {
  const __m128 wr = _mm_set1_ps(YuvWeightR), wg = _mm_set1_ps(YuvWeightG), wb = _mm_set1_ps(YuvWeightB);
  const __m128 su = _mm_set1_ps(YuvScaleU), sv = _mm_set1_ps(YuvScaleV);
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 r = _mm_loadu_ps(pr + i), g = _mm_loadu_ps(pg + i), b = _mm_loadu_ps(pb + i);
    const __m128 valid = ValidMask(r, g, b);
    const __m128 y = _mm_add_ps(_mm_add_ps(_mm_mul_ps(wr, r), _mm_mul_ps(wg, g)), _mm_mul_ps(wb, b));
    _mm_storeu_ps(pr + i, Blanked(y, valid));
    _mm_storeu_ps(pg + i, Blanked(_mm_mul_ps(su, _mm_sub_ps(b, y)), valid));
    _mm_storeu_ps(pb + i, Blanked(_mm_mul_ps(sv, _mm_sub_ps(r, y)), valid));
  }
  return i;
}

size_t YuvToRgbSse2(float* py, float* pu, float* pv, size_t n) {
  const __m128 rv = _mm_set1_ps(YuvToR_V), gv = _mm_set1_ps(YuvToG_V), gu = _mm_set1_ps(YuvToG_U);
  const __m128 bu = _mm_set1_ps(YuvToB_U);
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 y = _mm_loadu_ps(py + i), u = _mm_loadu_ps(pu + i), v = _mm_loadu_ps(pv + i);
    const __m128 valid = ValidMask(y, u, v);
    _mm_storeu_ps(py + i, Blanked(_mm_add_ps(y, _mm_mul_ps(rv, v)), valid));
    _mm_storeu_ps(pu + i, Blanked(_mm_sub_ps(_mm_sub_ps(y, _mm_mul_ps(gv, v)), _mm_mul_ps(gu, u)), valid));
    _mm_storeu_ps(pv + i, Blanked(_mm_add_ps(y, _mm_mul_ps(bu, u)), valid));
  }
  return i;
}
#else
size_t RgbToYuvSse2(float*, float*, float*, size_t) { return 0; }
size_t YuvToRgbSse2(float*, float*, float*, size_t) { return 0; }
#endif

// A run converted in place: the vector loop over whole groups of four, the plain
// loop over the rest.
template <size_t (*Vector)(float*, float*, float*, size_t), TRgbPixel (*Pixel)(float, float, float)>
void ConvertRun(std::span<float> p1, std::span<float> p2, std::span<float> p3, bool vector) {
  CheckSameLength(p1.size(), p2.size(), p3.size());
  const size_t done = vector ? Vector(p1.data(), p2.data(), p3.data(), p1.size()) : 0;
  ConvertScalar<Pixel>(p1.data() + done, p2.data() + done, p3.data() + done, p1.size() - done);
}

// The whole slot in blocks on worker bands, measured as it is written.
void ConvertSlot(int slot, void (*run)(std::span<float>, std::span<float>, std::span<float>, bool)) {
  TImageSlot& im = Store.Image[slot];
  const bool vector = Sse2Enabled;
  const auto scans = TransformPixelBlocks(im, 3, [&](size_t first, size_t count) {
    run(im.Plane(1).subspan(first, count), im.Plane(2).subspan(first, count), im.Plane(3).subspan(first, count),
        vector);
  });
  SetMinMaxFromScans(slot, scans);
}

void AfterModelSwitch(int slot, int model, const char* history) {
  Store.Image[slot].ColorModel = model;
  Store.Display[slot].DisplayType = model == CmYuv ? DtColorYuv : DtColorRgb;
  ComputeHistogram(slot, false, false);
  SetCtype3Card(slot);
  AddHistoryCard(slot, history, 0);
  if (ReleaseWindowUndoHook) ReleaseWindowUndoHook(slot);
}

}  // namespace

bool HasColourPlanes(int slot) {
  if (!SlotInUse(slot)) return false;
  const TImageSlot& im = Store.Image[slot];
  const size_t n = im.PixelCount();
  return im.IsColor && im.PlaneCount >= 3 && im.Planes[1].size() >= n && im.Planes[2].size() >= n &&
         im.Planes[3].size() >= n;
}

void CheckSameLength(size_t a, size_t b, size_t c) {
  if (b != a || c != a) throw std::invalid_argument("colour planes of different lengths");
}

void RgbToYuvRun(std::span<float> p1, std::span<float> p2, std::span<float> p3, bool vector) {
  ConvertRun<RgbToYuvSse2, RgbToYuvPixel>(p1, p2, p3, vector);
}

void YuvToRgbRun(std::span<float> p1, std::span<float> p2, std::span<float> p3, bool vector) {
  ConvertRun<YuvToRgbSse2, YuvToRgbPixel>(p1, p2, p3, vector);
}

bool RGBtoYUV(int slot) {
  if (!HasColourPlanes(slot) || Store.Image[slot].ColorModel != CmRgb) return false;
  ConvertSlot(slot, RgbToYuvRun);
  AfterModelSwitch(slot, CmYuv, "RGBtoYUV");
  return true;
}

bool YUVtoRGB(int slot) {
  if (!HasColourPlanes(slot) || Store.Image[slot].ColorModel != CmYuv) return false;
  ConvertSlot(slot, YuvToRgbRun);
  AfterModelSwitch(slot, CmRgb, "YUVtoRGB");
  return true;
}

bool ToggleColorModel(int slot) {
  if (!SlotInUse(slot) || !Store.Image[slot].IsColor) return false;
  return Store.Image[slot].ColorModel == CmYuv ? YUVtoRGB(slot) : RGBtoYUV(slot);
}

bool ColorModelsDiffer(int slot1, int slot2) {
  if (!SlotInUse(slot1) || !SlotInUse(slot2)) return false;
  const TImageSlot& a = Store.Image[slot1];
  const TImageSlot& b = Store.Image[slot2];
  return a.IsColor && b.IsColor && a.ColorModel != b.ColorModel;
}

void SetDisplayColorType(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return;
  const TImageSlot& im = Store.Image[slot];
  Store.Display[slot].DisplayType = !im.IsColor ? DtGrey : (im.ColorModel == CmYuv ? DtColorYuv : DtColorRgb);
}

}  // namespace astrelon
