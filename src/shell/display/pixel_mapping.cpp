// Row kernels of the renderer. The vector paths do the same float operations in
// the same order as the scalar ones, so both give the same bytes.
#include "shell/display/pixel_mapping.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/round_even.h"
#include "platform/simd_support.h"
#include "shell/display/display_lut.h"
#include "store/image_slot.h"

namespace astrelon {

TGreyLookups GreyLookups = TGreyLookups::Fastest;

namespace {

constexpr float MaxIndex = 65535.0f;
constexpr float LumaR = 0.299f, LumaG = 0.587f, LumaB = 0.114f;
constexpr float YuvRedV = 1.1402508551881414f;
constexpr float YuvGreenV = -0.58080920903f;
constexpr float YuvGreenU = 0.39393070275f;
constexpr float YuvBlueU = 2.028397565922921f;

inline uint32_t IndexOf(float v, float black, float scale) {
  if (!(v > BlankLimit)) return BlankIndex;
  float t = (v - black) * scale;
  t = t > 0.0f ? t : 0.0f;
  t = t < MaxIndex ? t : MaxIndex;
  return uint32_t(RoundEvenToInt(t));
}

// Clamped to 0..255 (NaN gives 0) and rounded to nearest, ties to even.
inline uint8_t ByteOf(float v) {
  v = v > 0.0f ? v : 0.0f;
  v = v < 255.0f ? v : 255.0f;
  return uint8_t(RoundEvenToInt(v));
}

inline float PositivePart(float v) { return v > 0.0f ? v : 0.0f; }

void LumaPixel(float v1, float v2, float v3, uint8_t* out, const TLumaMapping& m) {
  if (m.Yuv) {
    const float l = PositivePart(v1 - m.Black);
    float t = l * m.IndexScale;
    t = t < MaxIndex ? t : MaxIndex;
    const float lp = m.Lut[uint32_t(RoundEvenToInt(t))];
    const float q = lp / (l + m.Offset);
    out[2] = ByteOf((YuvRedV * v3 * q + lp) * m.OutScale);
    out[1] = ByteOf(((YuvGreenV * v3 - YuvGreenU * v2) * q + lp) * m.OutScale);
    out[0] = ByteOf((YuvBlueU * v2 * q + lp) * m.OutScale);
    return;
  }
  const float r = PositivePart(v1 - m.Black);
  const float g = PositivePart(v2 - m.Black);
  const float b = PositivePart(v3 - m.Black);
  const float l = LumaR * r + LumaG * g + LumaB * b;
  float t = l * m.IndexScale;
  t = t < MaxIndex ? t : MaxIndex;
  const float lp = m.Lut[uint32_t(RoundEvenToInt(t))];
  const float q = lp / (l + m.Offset);
  out[2] = v1 > BlankLimit ? ByteOf(((r - l) * q + lp) * m.OutScale) : 0;
  out[1] = v2 > BlankLimit ? ByteOf(((g - l) * q + lp) * m.OutScale) : 0;
  out[0] = v3 > BlankLimit ? ByteOf(((b - l) * q + lp) * m.OutScale) : 0;
}

#if defined(__SSE2__)
inline __m128i BytesOf(__m128 v, __m128 zero, __m128 top) {
  return _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(v, zero), top));
}
#endif

}  // namespace

void ComputeLutIndices(std::span<const float> values, float black, float scale, std::span<uint32_t> out,
                       bool vector) {
  const size_t n = values.size() < out.size() ? values.size() : out.size();
  size_t i = 0;
#if defined(__SSE2__)
  if (vector) {
    const __m128 vb = _mm_set1_ps(black);
    const __m128 vs = _mm_set1_ps(scale);
    const __m128 zero = _mm_setzero_ps();
    const __m128 top = _mm_set1_ps(MaxIndex);
    const __m128 limit = _mm_set1_ps(BlankLimit);
    const __m128i blank = _mm_set1_epi32(int32_t(BlankIndex));
    for (; i + 4 <= n; i += 4) {
      const __m128 v = _mm_loadu_ps(values.data() + i);
      // max(t, 0) returns 0 for a NaN product; NaN inputs are masked as blank below.
      const __m128 t = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_sub_ps(v, vb), vs), zero), top);
      const __m128i idx = _mm_cvtps_epi32(t);
      const __m128i valid = _mm_castps_si128(_mm_cmpgt_ps(v, limit));
      const __m128i r = _mm_or_si128(_mm_and_si128(valid, idx), _mm_andnot_si128(valid, blank));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data() + i), r);
    }
  }
#else
  (void)vector;
#endif
  for (; i < n; ++i) out[i] = IndexOf(values[i], black, scale);
}

TByteLutSteps ByteLutSteps(std::span<const uint8_t> lut) {
  TByteLutSteps st;
  if (lut.size() < LutSize) return st;
  // last[k]: the index before the first one whose byte reaches Base + k.
  std::array<uint16_t, 256> last;
  last.fill(65535);
  for (size_t i = 1; i < BlankIndex; ++i) {
    if (lut[i] == lut[i - 1]) continue;
    if (lut[i] < lut[i - 1]) return st;
    for (int b = lut[i - 1] + 1; b <= lut[i]; ++b) last[size_t(b - lut[0])] = uint16_t(i - 1);
  }
  st.Usable = true;
  st.Base = lut[0];
  for (size_t j = 0; j < 8; ++j) {
    const size_t s = size_t(128) >> j;
    for (size_t c = 0; c < st.Level[j].size(); ++c) st.Level[j][c] = c < (size_t(1) << j) ? last[c * 2 * s + s] : 65535;
  }
  return st;
}

namespace {

#if ASTRELON_HAVE_AVX2
// Table bytes of eight values as 32-bit lanes: the bytes are gathered as 32-bit
// words (hence the spare bytes after the table) and masked.
ASTRELON_AVX2 inline __m256i GreyBytesAvx2(const float* p, __m256 black, __m256 scale, const uint8_t* lut) {
  const __m256 v = _mm256_loadu_ps(p);
  const __m256 t = _mm256_min_ps(_mm256_max_ps(_mm256_mul_ps(_mm256_sub_ps(v, black), scale), _mm256_setzero_ps()),
                                 _mm256_set1_ps(MaxIndex));
  const __m256 valid = _mm256_cmp_ps(v, _mm256_set1_ps(BlankLimit), _CMP_GT_OQ);
  const __m256i idx =
      _mm256_blendv_epi8(_mm256_set1_epi32(int32_t(BlankIndex)), _mm256_cvtps_epi32(t), _mm256_castps_si256(valid));
  return _mm256_and_si256(_mm256_i32gather_epi32(reinterpret_cast<const int*>(lut), idx, 1), _mm256_set1_epi32(0xFF));
}

// One byte per value, sixteen values per step. Returns the number of values done.
ASTRELON_AVX2 size_t MapGreyAvx2(const float* values, size_t n, float black, float scale, const uint8_t* lut,
                                 uint8_t* out) {
  const __m256 vb = _mm256_set1_ps(black), vs = _mm256_set1_ps(scale);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i a = GreyBytesAvx2(values + i, vb, vs, lut), b = GreyBytesAvx2(values + i + 8, vb, vs, lut);
    // Per 128-bit half a0-3 b0-3 | a4-7 b4-7 as words, then as bytes in the low dwords.
    const __m256i w = _mm256_packus_epi32(a, b);
    const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(w, w), order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(packed));
  }
  return i;
}

// The same bytes with the look-ups one by one: the table indices of sixteen
// values computed side by side, then sixteen byte loads (faster than a gather
// on processors whose gathers are slow).
ASTRELON_AVX2 size_t MapGreyLoadsAvx2(const float* values, size_t n, float black, float scale, const uint8_t* lut,
                                      uint8_t* out) {
  const __m256 vb = _mm256_set1_ps(black), vs = _mm256_set1_ps(scale), zero = _mm256_setzero_ps();
  const __m256 top = _mm256_set1_ps(MaxIndex), limit = _mm256_set1_ps(BlankLimit);
  const __m256i blank = _mm256_set1_epi32(int32_t(BlankIndex));
  alignas(32) uint32_t idx[16];
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    for (int h = 0; h < 2; ++h) {
      const __m256 v = _mm256_loadu_ps(values + i + 8 * h);
      const __m256 t = _mm256_min_ps(_mm256_max_ps(_mm256_mul_ps(_mm256_sub_ps(v, vb), vs), zero), top);
      const __m256 valid = _mm256_cmp_ps(v, limit, _CMP_GT_OQ);
      _mm256_store_si256(reinterpret_cast<__m256i*>(idx + 8 * h),
                         _mm256_blendv_epi8(blank, _mm256_cvtps_epi32(t), _mm256_castps_si256(valid)));
    }
    uint64_t lo = 0, hi = 0;
    for (int k = 0; k < 8; ++k) {
      lo |= uint64_t(lut[idx[k]]) << (8 * k);
      hi |= uint64_t(lut[idx[k + 8]]) << (8 * k);
    }
    std::memcpy(out + i, &lo, 8);
    std::memcpy(out + i + 8, &hi, 8);
  }
  return i;
}

// Whether this processor maps faster with gathers than with single loads (both
// give the same bytes): timed once on a table and values like a display's.
bool GatherIsFaster() {
  static const bool faster = [] {
    constexpr size_t Values = size_t(1) << 15;
    std::vector<uint8_t> lut(size_t(BlankIndex) + 8), out(Values);
    std::vector<float> values(Values);
    uint32_t x = 12345;
    for (size_t k = 0; k < lut.size(); ++k) lut[k] = uint8_t(k * 255 / lut.size());
    for (float& v : values) {
      x = x * 1664525u + 1013904223u;
      v = float(x >> 8) * (1.0f / 16777216.0f);
    }
    auto best = [&](auto map) {
      double fastest = 1e30;
      for (int round = 0; round < 5; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        map(values.data(), Values, 0.0f, MaxIndex, lut.data(), out.data());
        fastest = std::min(fastest, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
      }
      return fastest;
    };
    return best(MapGreyAvx2) < best(MapGreyLoadsAvx2);
  }();
  return faster;
}
// One byte per value, 32 values per step, by the binary search over the
// table's steps: the search's position b (0..255) in 16-bit lanes, on level j
// the entry Level[j][b >> (8 − j)] compared with the index.
// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
ASTRELON_AVX512 size_t MapGreyStepsAvx512(const float* values, size_t n, float black, float scale,
                                            const TByteLutSteps& steps, uint8_t blankByte, uint8_t* out) {
  const __m512 vb = _mm512_set1_ps(black), vs = _mm512_set1_ps(scale), zero = _mm512_setzero_ps();
  const __m512 top = _mm512_set1_ps(MaxIndex), limit = _mm512_set1_ps(BlankLimit);
  __m512i level[8][4];
  for (size_t j = 0; j < 8; ++j)
    for (size_t q = 0; q < 4; ++q) level[j][q] = _mm512_load_si512(steps.Level[j].data() + 32 * q);
  const __m512i base = _mm512_set1_epi16(int16_t(steps.Base));
  const __m256i blank = _mm256_set1_epi8(char(blankByte));
  // The table index of sixteen values, as in IndexOf (blank lanes masked later).
  auto indices = [&](__m512 v) ASTRELON_AVX512 {
    const __m512 t = _mm512_min_ps(_mm512_max_ps(_mm512_mul_ps(_mm512_sub_ps(v, vb), vs), zero), top);
    return _mm512_cvtepi32_epi16(_mm512_cvtps_epi32(t));
  };
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m512 v0 = _mm512_loadu_ps(values + i), v1 = _mm512_loadu_ps(values + i + 16);
    const __m512i idx = _mm512_inserti64x4(_mm512_castsi256_si512(indices(v0)), indices(v1), 1);
    const __mmask32 valid =
        _mm512_kunpackw(_mm512_cmp_ps_mask(v1, limit, _CMP_GT_OQ), _mm512_cmp_ps_mask(v0, limit, _CMP_GT_OQ));
    __m512i b = _mm512_setzero_si512();
    auto advance = [&](__m512i entry, int s) ASTRELON_AVX512 {
      b = _mm512_mask_add_epi16(b, _mm512_cmpgt_epu16_mask(idx, entry), b, _mm512_set1_epi16(int16_t(s)));
    };
    // Levels 0..5: up to 32 entries, one register.
    advance(_mm512_permutexvar_epi16(b, level[0][0]), 128);
    advance(_mm512_permutexvar_epi16(_mm512_srli_epi16(b, 7), level[1][0]), 64);
    advance(_mm512_permutexvar_epi16(_mm512_srli_epi16(b, 6), level[2][0]), 32);
    advance(_mm512_permutexvar_epi16(_mm512_srli_epi16(b, 5), level[3][0]), 16);
    advance(_mm512_permutexvar_epi16(_mm512_srli_epi16(b, 4), level[4][0]), 8);
    advance(_mm512_permutexvar_epi16(_mm512_srli_epi16(b, 3), level[5][0]), 4);
    // Level 6: 64 entries in two registers; level 7: 128 in four.
    advance(_mm512_permutex2var_epi16(level[6][0], _mm512_srli_epi16(b, 2), level[6][1]), 2);
    const __m512i c = _mm512_srli_epi16(b, 1);
    const __m512i low = _mm512_permutex2var_epi16(level[7][0], c, level[7][1]);
    const __m512i high = _mm512_permutex2var_epi16(level[7][2], c, level[7][3]);
    advance(_mm512_mask_blend_epi16(_mm512_test_epi16_mask(c, _mm512_set1_epi16(64)), low, high), 1);
    const __m256i bytes = _mm512_cvtepi16_epi8(_mm512_add_epi16(b, base));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_mask_blend_epi8(valid, blank, bytes));
  }
  return i;
}
#pragma GCC diagnostic pop
#endif

template <int Step>
void MapThroughByteLutStep(std::span<const float> values, float black, float scale, const uint8_t* lut,
                           uint8_t* out, size_t n, bool vector, const TByteLutSteps* steps) {
  size_t i = 0;
#if ASTRELON_HAVE_AVX2
  const bool bySteps =
      steps && steps->Usable && (GreyLookups == TGreyLookups::Fastest || GreyLookups == TGreyLookups::Steps);
  if (Step == 1 && UseAvx2(vector) && bySteps && CpuRunsAvx512())
    i = MapGreyStepsAvx512(values.data(), n, black, scale, *steps, lut[BlankIndex], out);
  if (Step == 1 && UseAvx2(vector))
    i += GreyLookups == TGreyLookups::Gather || (GreyLookups != TGreyLookups::SingleLoads && GatherIsFaster())
             ? MapGreyAvx2(values.data() + i, n - i, black, scale, lut, out + i)
             : MapGreyLoadsAvx2(values.data() + i, n - i, black, scale, lut, out + i);
#endif
#if defined(__SSE2__)
  if (vector) {
    const __m128 vb = _mm_set1_ps(black);
    const __m128 vs = _mm_set1_ps(scale);
    const __m128 zero = _mm_setzero_ps();
    const __m128 top = _mm_set1_ps(MaxIndex);
    const __m128 limit = _mm_set1_ps(BlankLimit);
    // A blank value clamps to index 0 here; the lanes that are blank are set to
    // the blank entry afterwards (rare, so tested once per eight values).
    auto indices = [&](__m128 v) {
      return _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_sub_ps(v, vb), vs), zero), top));
    };
    const uint8_t blankByte = lut[BlankIndex];
    for (; i + 8 <= n; i += 8) {
      const __m128 va = _mm_loadu_ps(values.data() + i);
      const __m128 vc = _mm_loadu_ps(values.data() + i + 4);
      const __m128i a = indices(va);
      const __m128i b = indices(vc);
      uint8_t* o = out + Step * i;
      o[0] = lut[uint32_t(_mm_cvtsi128_si32(a))];
      o[Step] = lut[uint32_t(_mm_cvtsi128_si32(_mm_shuffle_epi32(a, 0x55)))];
      o[2 * Step] = lut[uint32_t(_mm_cvtsi128_si32(_mm_shuffle_epi32(a, 0xAA)))];
      o[3 * Step] = lut[uint32_t(_mm_cvtsi128_si32(_mm_shuffle_epi32(a, 0xFF)))];
      o[4 * Step] = lut[uint32_t(_mm_cvtsi128_si32(b))];
      o[5 * Step] = lut[uint32_t(_mm_cvtsi128_si32(_mm_shuffle_epi32(b, 0x55)))];
      o[6 * Step] = lut[uint32_t(_mm_cvtsi128_si32(_mm_shuffle_epi32(b, 0xAA)))];
      o[7 * Step] = lut[uint32_t(_mm_cvtsi128_si32(_mm_shuffle_epi32(b, 0xFF)))];
      const int valid = _mm_movemask_ps(_mm_cmpgt_ps(va, limit)) | (_mm_movemask_ps(_mm_cmpgt_ps(vc, limit)) << 4);
      if (valid != 0xFF) [[unlikely]] {
        for (int k = 0; k < 8; ++k)
          if (!(valid & (1 << k))) o[k * Step] = blankByte;
      }
    }
  }
#else
  (void)vector;
#endif
  for (; i < n; ++i) out[Step * i] = lut[IndexOf(values[i], black, scale)];
}

}  // namespace

void MapThroughByteLut(std::span<const float> values, float black, float scale, const uint8_t* lut,
                       std::span<uint8_t> out, int step, bool vector, const TByteLutSteps* steps) {
  if (step < 1) return;
  size_t n = values.size();
  if (out.empty()) return;
  n = std::min(n, (out.size() - 1) / size_t(step) + 1);
  if (step == 3)
    MapThroughByteLutStep<3>(values, black, scale, lut, out.data(), n, vector, nullptr);
  else if (step == 1)
    MapThroughByteLutStep<1>(values, black, scale, lut, out.data(), n, vector, steps);
  else
    for (size_t i = 0; i < n; ++i) out[size_t(step) * i] = lut[IndexOf(values[i], black, scale)];
}

void MapLumaRow(std::span<const float> p1, std::span<const float> p2, std::span<const float> p3,
                std::span<uint8_t> bgr, const TLumaMapping& m, bool vector) {
  size_t n = p1.size();
  if (p2.size() < n) n = p2.size();
  if (p3.size() < n) n = p3.size();
  if (bgr.size() / 3 < n) n = bgr.size() / 3;
  size_t i = 0;
#if defined(__SSE2__)
  if (vector) {
    const __m128 black = _mm_set1_ps(m.Black);
    const __m128 iscale = _mm_set1_ps(m.IndexScale);
    const __m128 offset = _mm_set1_ps(m.Offset);
    const __m128 oscale = _mm_set1_ps(m.OutScale);
    const __m128 zero = _mm_setzero_ps();
    const __m128 top = _mm_set1_ps(255.0f);
    const __m128 maxIndex = _mm_set1_ps(MaxIndex);
    const __m128 limit = _mm_set1_ps(BlankLimit);
    alignas(16) int32_t idx[4];
    alignas(16) int32_t red[4], green[4], blue[4];
    for (; i + 4 <= n; i += 4) {
      const __m128 v1 = _mm_loadu_ps(p1.data() + i);
      const __m128 v2 = _mm_loadu_ps(p2.data() + i);
      const __m128 v3 = _mm_loadu_ps(p3.data() + i);
      __m128 l, r = zero, g = zero, b = zero;
      if (m.Yuv) {
        l = _mm_max_ps(_mm_sub_ps(v1, black), zero);
      } else {
        r = _mm_max_ps(_mm_sub_ps(v1, black), zero);
        g = _mm_max_ps(_mm_sub_ps(v2, black), zero);
        b = _mm_max_ps(_mm_sub_ps(v3, black), zero);
        l = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(LumaR), r), _mm_mul_ps(_mm_set1_ps(LumaG), g)),
                       _mm_mul_ps(_mm_set1_ps(LumaB), b));
      }
      _mm_store_si128(reinterpret_cast<__m128i*>(idx), _mm_cvtps_epi32(_mm_min_ps(_mm_mul_ps(l, iscale), maxIndex)));
      const __m128 lp = _mm_setr_ps(m.Lut[idx[0]], m.Lut[idx[1]], m.Lut[idx[2]], m.Lut[idx[3]]);
      const __m128 q = _mm_div_ps(lp, _mm_add_ps(l, offset));
      __m128i ri, gi, bi;
      if (m.Yuv) {
        ri = BytesOf(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(_mm_mul_ps(_mm_set1_ps(YuvRedV), v3), q), lp), oscale), zero, top);
        const __m128 gc = _mm_sub_ps(_mm_mul_ps(_mm_set1_ps(YuvGreenV), v3), _mm_mul_ps(_mm_set1_ps(YuvGreenU), v2));
        gi = BytesOf(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(gc, q), lp), oscale), zero, top);
        bi = BytesOf(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(_mm_mul_ps(_mm_set1_ps(YuvBlueU), v2), q), lp), oscale), zero, top);
      } else {
        auto channel = [&](__m128 c, __m128 v) {
          const __m128i x = BytesOf(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(c, l), q), lp), oscale), zero, top);
          return _mm_and_si128(x, _mm_castps_si128(_mm_cmpgt_ps(v, limit)));
        };
        ri = channel(r, v1);
        gi = channel(g, v2);
        bi = channel(b, v3);
      }
      _mm_store_si128(reinterpret_cast<__m128i*>(red), ri);
      _mm_store_si128(reinterpret_cast<__m128i*>(green), gi);
      _mm_store_si128(reinterpret_cast<__m128i*>(blue), bi);
      uint8_t* o = bgr.data() + 3 * i;
      for (int k = 0; k < 4; ++k) {
        o[3 * k] = uint8_t(blue[k]);
        o[3 * k + 1] = uint8_t(green[k]);
        o[3 * k + 2] = uint8_t(red[k]);
      }
    }
  }
#else
  (void)vector;
#endif
  for (; i < n; ++i) LumaPixel(p1[i], p2[i], p3[i], bgr.data() + 3 * i, m);
}

}  // namespace astrelon
