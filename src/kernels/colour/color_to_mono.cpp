#include "kernels/colour/color_to_mono.h"

#include <algorithm>

#include "core/settings.h"
#include "kernels/colour/power_table.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "shell/windows/image_window_state.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/pixel_blocks.h"

namespace astrelon {

void (*CloseImageSlotHook)(int slot) = nullptr;

namespace {

constexpr double LumaWeights[3] = {0.299, 0.587, 0.114};
constexpr float LuminanceWeights[3] = {0.2126f, 0.7152f, 0.0722f};
constexpr double Gamma = 2.2;

const TPowerTable& Linearise() {
  static const TPowerTable table(Gamma);
  return table;
}
const TPowerTable& Delinearise() {
  static const TPowerTable table(1.0 / Gamma);
  return table;
}

// Frees whatever image the destination holds and gives it a fresh record of the
// source's size with an unwritten plane 1: nothing of an earlier image stays.
void PrepareDestination(int source, int destination) {
  if (Store.InUse[size_t(destination)]) {
    const int current = CurrentWindowSlot;
    if (CloseImageSlotHook)
      CloseImageSlotHook(destination);
    else
      FreeSlot(destination);
    if (current == destination) CurrentWindowSlot = destination;
  }
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(destination)];
  d = TImageSlot{};
  d.Width = s.Width;
  d.Height = s.Height;
  d.JpegQuality = s.JpegQuality;
  d.JpegFileSize = s.JpegFileSize;
  d.DarkRms = s.DarkRms;
  d.AllocatePlanesForOverwrite(1);
  Store.InUse[size_t(destination)] = 1;
  Store.FileName[size_t(destination)] = Store.FileName[size_t(source)];
}

}  // namespace

TMonoRange MonoRangeOf(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  float lo = im.MinValue, hi = im.MaxValue;
  if (Store.HasWindow[size_t(slot)]) {
    lo = std::min(lo, Store.Display[size_t(slot)].Black);
    hi = std::max(hi, Store.Display[size_t(slot)].White);
  }
  float range = hi - lo;
  if (!(range >= 0.01f)) range = 0.01f;
  return {lo, range};
}

void LumaRun(std::span<const float> r, std::span<const float> g, std::span<const float> b, std::span<float> out) {
  CheckSameLength(r.size(), g.size(), b.size());
  CheckSameLength(out.size(), r.size(), r.size());
  for (size_t i = 0; i < out.size(); ++i) {
    const float v[3] = {r[i], g[i], b[i]};
    double sum = 0, weight = 0;
    for (size_t c = 0; c < 3; ++c) {
      if (!IsValidPixel(v[c])) continue;
      sum += LumaWeights[c] * double(v[c]);
      weight += LumaWeights[c];
    }
    out[i] = weight > 0 ? float(sum / weight) : BlankPixel;
  }
}

namespace {

// Linearised components beyond 2^40 times the range would overflow the power.
constexpr float LinearCap = 1099511627776.0f;

// One component's share: w · ((v - lo) / range)^2.2, nothing for a blank component.
inline void AddLinear(float v, float w, float lo, float scale, const TPowerTable& linear, float& sum, float& weight) {
  const bool valid = IsValidPixel(v);
  const float x = std::min(std::max(0.0f, (v - lo) * scale), LinearCap);
  sum += valid ? w * linear(x) : 0.0f;
  weight += valid ? w : 0.0f;
}

template <bool Yuv>
void LuminanceScalar(const float* p1, const float* p2, const float* p3, float* out, size_t n, const TMonoRange& range) {
  const TPowerTable& linear = Linearise();
  const TPowerTable& gamma = Delinearise();
  const float lo = range.Low, width = range.Range, scale = 1.0f / width;
  for (size_t i = 0; i < n; ++i) {
    float r = p1[i], g = p2[i], b = p3[i];
    if constexpr (Yuv) {
      // A YUV pixel with a blank plane has no colour (as under YUVtoRGB).
      if (!IsValidPixel(r) || !IsValidPixel(g) || !IsValidPixel(b)) {
        out[i] = BlankPixel;
        continue;
      }
      const TRgbPixel q = YuvToRgbPixel(r, g, b);
      r = q.R;
      g = q.G;
      b = q.B;
    }
    float sum = 0, weight = 0;
    AddLinear(r, LuminanceWeights[0], lo, scale, linear, sum, weight);
    AddLinear(g, LuminanceWeights[1], lo, scale, linear, sum, weight);
    AddLinear(b, LuminanceWeights[2], lo, scale, linear, sum, weight);
    out[i] = weight > 0 ? gamma(sum / weight) * width + lo : BlankPixel;
  }
}

#if ASTRELON_HAVE_AVX2
// Eight pixels at a time, the scalar path's operations in its order.
struct TLinearLanes {
  __m256 Sum, Weight;
};

ASTRELON_AVX2 inline void AddLinear8(__m256 v, __m256 valid, float w, __m256 lo, __m256 scale,
                                     const TPowerTable& linear, TLinearLanes& acc) {
  const __m256 x = _mm256_min_ps(_mm256_max_ps(_mm256_mul_ps(_mm256_sub_ps(v, lo), scale), _mm256_setzero_ps()),
                                 _mm256_set1_ps(LinearCap));
  const __m256 wv = _mm256_set1_ps(w);
  acc.Sum = _mm256_add_ps(acc.Sum, _mm256_and_ps(valid, _mm256_mul_ps(wv, linear.Eight(x))));
  acc.Weight = _mm256_add_ps(acc.Weight, _mm256_and_ps(valid, wv));
}

template <bool Yuv>
ASTRELON_AVX2 size_t LuminanceAvx2(const float* p1, const float* p2, const float* p3, float* out, size_t n,
                                   const TMonoRange& range) {
  const TPowerTable& linear = Linearise();
  const TPowerTable& gamma = Delinearise();
  const __m256 lo = _mm256_set1_ps(range.Low), width = _mm256_set1_ps(range.Range);
  const __m256 scale = _mm256_set1_ps(1.0f / range.Range);
  const __m256 lim = _mm256_set1_ps(BlankLimit), blank = _mm256_set1_ps(BlankPixel);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256 r = _mm256_loadu_ps(p1 + i), g = _mm256_loadu_ps(p2 + i), b = _mm256_loadu_ps(p3 + i);
    __m256 keep = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
    if constexpr (Yuv) {
      keep = _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(r, lim, _CMP_GT_OQ), _mm256_cmp_ps(g, lim, _CMP_GT_OQ)),
                           _mm256_cmp_ps(b, lim, _CMP_GT_OQ));
      const __m256 y = r, u = g, v = b;
      r = _mm256_add_ps(y, _mm256_mul_ps(_mm256_set1_ps(YuvToR_V), v));
      g = _mm256_sub_ps(_mm256_sub_ps(y, _mm256_mul_ps(_mm256_set1_ps(YuvToG_V), v)),
                        _mm256_mul_ps(_mm256_set1_ps(YuvToG_U), u));
      b = _mm256_add_ps(y, _mm256_mul_ps(_mm256_set1_ps(YuvToB_U), u));
    }
    const __m256 vr = _mm256_cmp_ps(r, lim, _CMP_GT_OQ), vg = _mm256_cmp_ps(g, lim, _CMP_GT_OQ),
                 vb = _mm256_cmp_ps(b, lim, _CMP_GT_OQ);
    TLinearLanes acc{_mm256_setzero_ps(), _mm256_setzero_ps()};
    AddLinear8(r, vr, LuminanceWeights[0], lo, scale, linear, acc);
    AddLinear8(g, vg, LuminanceWeights[1], lo, scale, linear, acc);
    AddLinear8(b, vb, LuminanceWeights[2], lo, scale, linear, acc);
    // Lanes without a valid component divide 0 by 0; their NaN finds in-range
    // table entries and is replaced by the blank value.
    const __m256 grey =
        _mm256_add_ps(_mm256_mul_ps(gamma.Eight(_mm256_div_ps(acc.Sum, acc.Weight)), width), lo);
    const __m256 ok = _mm256_and_ps(keep, _mm256_or_ps(_mm256_or_ps(vr, vg), vb));
    _mm256_storeu_ps(out + i, _mm256_or_ps(_mm256_and_ps(ok, grey), _mm256_andnot_ps(ok, blank)));
  }
  return i;
}
#endif

template <bool Yuv>
void LuminanceLoop(const float* p1, const float* p2, const float* p3, float* out, size_t n, const TMonoRange& range,
                   bool vector) {
  size_t done = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) done = LuminanceAvx2<Yuv>(p1, p2, p3, out, n, range);
#else
  (void)vector;
#endif
  LuminanceScalar<Yuv>(p1 + done, p2 + done, p3 + done, out + done, n - done, range);
}

}  // namespace

void LuminanceRun(std::span<const float> p1, std::span<const float> p2, std::span<const float> p3,
                  std::span<float> out, const TMonoRange& range, bool yuv, bool vector) {
  CheckSameLength(p1.size(), p2.size(), p3.size());
  CheckSameLength(out.size(), p1.size(), p1.size());
  if (yuv)
    LuminanceLoop<true>(p1.data(), p2.data(), p3.data(), out.data(), out.size(), range, vector);
  else
    LuminanceLoop<false>(p1.data(), p2.data(), p3.data(), out.data(), out.size(), range, vector);
}

namespace {

// The grey plane 1 of the destination, written block by block on worker bands
// and measured as it goes; a YUV source in luma mode gives its Y plane as it is.
void WriteGreyPlane(int source, int destination, bool luminance, bool yuv, const TMonoRange& range) {
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(destination)];
  const bool vector = Sse2Enabled;
  const auto scans = TransformPixelBlocks(d, 1, [&](size_t first, size_t count) {
    const auto plane = [&](int p) { return s.Plane(p).subspan(first, count); };
    const std::span<float> out = d.Plane(1).subspan(first, count);
    if (luminance)
      LuminanceRun(plane(1), plane(2), plane(3), out, range, yuv, vector);
    else if (!yuv)
      LumaRun(plane(1), plane(2), plane(3), out);
    else if (destination != source)
      std::copy(plane(1).begin(), plane(1).end(), out.begin());
  });
  d.IsColor = 0;
  d.PlaneCount = 1;
  SetMinMaxFromScans(destination, scans);
}

}  // namespace

bool ConvertColorToMono(int source, int destination, bool luminance) {
  if (destination < 1 || destination > MaxImageSlots || !HasColourPlanes(source)) return false;
  const bool yuv = Store.Image[size_t(source)].ColorModel == CmYuv;
  const TMonoRange range = MonoRangeOf(source);
  try {
    if (destination != source) PrepareDestination(source, destination);
    WriteGreyPlane(source, destination, luminance, yuv, range);
  } catch (...) {
    // A half-made grey image in another slot is no result.
    if (destination != source) FreeSlot(destination);
    throw;
  }
  TImageSlot& d = Store.Image[size_t(destination)];
  if (destination != source) {
    CopyHeaderCards(source, destination);
    Store.NewHistoryCard[size_t(destination)] = Store.NewHistoryCard[size_t(source)];
    CopyDisplayRecord(source, destination);
  }
  // The colour planes go at once.
  for (int p = 2; p <= 3; ++p) TPlane().swap(d.Planes[size_t(p)]);
  d.ColorModel = CmRgb;
  SetHeader2Axis(destination);
  Store.Display[size_t(destination)].DisplayType = DtGrey;
  std::fill(std::begin(d.RawMultipliers), std::end(d.RawMultipliers), 1.0f);
  return true;
}

TPlane GreyPlaneOf(int slot) {
  if (!SlotInUse(slot)) return {};
  const TImageSlot& s = Store.Image[size_t(slot)];
  const size_t n = s.PixelCount();
  if (s.Planes[1].size() < n) return {};
  if (!HasColourPlanes(slot) || s.ColorModel == CmYuv) return TPlane(s.Planes[1].begin(), s.Planes[1].begin() + ptrdiff_t(n));
  TPlane grey(n);
  constexpr size_t Block = size_t(1) << 16;
  const int64_t blocks = int64_t((n + Block - 1) / Block);
  ForEachBand(blocks, BandThreads(blocks, 4, Options.Multicore != 0), [&](int64_t first, int64_t last) {
    const size_t a = size_t(first) * Block, b = std::min(n, size_t(last) * Block);
    LumaRun(s.Plane(1).subspan(a, b - a), s.Plane(2).subspan(a, b - a), s.Plane(3).subspan(a, b - a),
            std::span<float>(grey).subspan(a, b - a));
  });
  return grey;
}

}  // namespace astrelon
