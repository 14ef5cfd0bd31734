#include "store/fits/fits_pixel_encoder.h"

#include <array>
#include <bit>

#include "platform/simd_support.h"
#include "store/fits/fits_layout.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

// Adding and removing 1.5 * 2^52 rounds a double below 2^51 to the nearest
// integer, halves to even (the default rounding mode).
constexpr double RoundMagic = 6755399441055744.0;

struct TLimits {
  double Lo, Hi;
};
TLimits LimitsOf(int bitpix) {
  if (bitpix == 16) return {-32768.0, 32767.0};
  return {-2147483648.0, 2147483647.0};
}

inline int32_t RawCode(float v, double bzero, double s, TLimits l) {
  double x = (double(v) - bzero) * s;
  x = x < l.Lo ? l.Lo : x;
  x = x > l.Hi ? l.Hi : x;
  return int32_t((x + RoundMagic) - RoundMagic);
}

void EncodeScalar(std::span<const float> row, const TFitsEncoding& e, uint8_t* out, size_t from) {
  const size_t n = row.size();
  if (e.Bitpix == -32) {
    for (size_t i = from; i < n; ++i) {
      const float v = row[i];
      StoreBe32(out + 4 * i, IsValidPixel(v) ? std::bit_cast<uint32_t>(v) : e.BlankBits);
    }
    return;
  }
  const TLimits l = LimitsOf(e.Bitpix);
  for (size_t i = from; i < n; ++i) {
    const float v = row[i];
    const uint32_t code = IsValidPixel(v) ? uint32_t(RawCode(v, e.Bzero, e.InvScale, l)) : e.BlankBits;
    if (e.Bitpix == 16)
      StoreBe16(out + 2 * i, uint16_t(code));
    else
      StoreBe32(out + 4 * i, code);
  }
}

#if ASTRELON_HAVE_SSE2
inline __m128i Swap16(__m128i x) { return _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8)); }
inline __m128i Swap32(__m128i x) {
  x = Swap16(x);
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, 0xB1), 0xB1);
}

// Returns the number of samples done (a multiple of 4).
size_t EncodeSse2(std::span<const float> row, const TFitsEncoding& e, uint8_t* out) {
  const size_t n4 = row.size() & ~size_t(3);
  const __m128 limit = _mm_set1_ps(BlankLimit);
  const __m128i blank = _mm_set1_epi32(int32_t(e.BlankBits));
  if (e.Bitpix == -32) {
    for (size_t i = 0; i < n4; i += 4) {
      const __m128i v = _mm_castps_si128(_mm_loadu_ps(row.data() + i));
      const __m128i valid = _mm_castps_si128(_mm_cmpgt_ps(_mm_castsi128_ps(v), limit));
      const __m128i bits = _mm_or_si128(_mm_and_si128(valid, v), _mm_andnot_si128(valid, blank));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), Swap32(bits));
    }
    return n4;
  }
  const TLimits l = LimitsOf(e.Bitpix);
  const __m128d bzero = _mm_set1_pd(e.Bzero), s = _mm_set1_pd(e.InvScale);
  const __m128d lo = _mm_set1_pd(l.Lo), hi = _mm_set1_pd(l.Hi), magic = _mm_set1_pd(RoundMagic);
  auto codes = [&](__m128d x) {
    x = _mm_mul_pd(_mm_sub_pd(x, bzero), s);
    x = _mm_min_pd(_mm_max_pd(x, lo), hi);
    x = _mm_sub_pd(_mm_add_pd(x, magic), magic);
    return _mm_cvttpd_epi32(x);
  };
  for (size_t i = 0; i < n4; i += 4) {
    const __m128 v = _mm_loadu_ps(row.data() + i);
    const __m128 valid = _mm_cmpgt_ps(v, limit);
    // Blank lanes (NaN included) compute from 0 and are replaced below.
    const __m128 vz = _mm_and_ps(v, valid);
    const __m128i c01 = codes(_mm_cvtps_pd(vz));
    const __m128i c23 = codes(_mm_cvtps_pd(_mm_movehl_ps(vz, vz)));
    __m128i c = _mm_unpacklo_epi64(c01, c23);
    const __m128i m = _mm_castps_si128(valid);
    c = _mm_or_si128(_mm_and_si128(m, c), _mm_andnot_si128(m, blank));
    if (e.Bitpix == 16) {
      // The codes lie within int16 already (or are the blank code): packing keeps them.
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * i), Swap16(_mm_packs_epi32(c, c)));
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), Swap32(c));
    }
  }
  return n4;
}
#endif

TPlaneScan ScanScalar(std::span<const float> plane, size_t from, TPlaneScan r) {
  for (size_t i = from; i < plane.size(); ++i) {
    const float v = plane[i];
    if (IsValidPixel(v)) {
      const float c = v > 1e18f ? 1e18f : v;
      r.Min = c < r.Min ? c : r.Min;
      r.Max = c > r.Max ? c : r.Max;
    } else {
      r.HasBlank = true;
    }
  }
  return r;
}

#if ASTRELON_HAVE_SSE2
// Lanes of a vector of four floats.
inline std::array<float, 4> Lanes(__m128 v) {
  std::array<float, 4> a;
  _mm_storeu_ps(a.data(), v);
  return a;
}

// BITPIX -32 with the scan; returns the number of samples done (a multiple of 4).
size_t EncodeFloatScanningSse2(std::span<const float> row, uint32_t blankBits, uint8_t* out, TPlaneScan& scan) {
  const size_t n4 = row.size() & ~size_t(3);
  const __m128 limit = _mm_set1_ps(BlankLimit), cap = _mm_set1_ps(1e18f);
  const __m128 above = _mm_set1_ps(1e20f), below = _mm_set1_ps(-1e20f);
  const __m128i blankCode = _mm_set1_epi32(int32_t(blankBits));
  __m128 mn = above, mx = below, blank = _mm_setzero_ps();
  for (size_t i = 0; i < n4; i += 4) {
    const __m128 v = _mm_loadu_ps(row.data() + i);
    const __m128 valid = _mm_cmpgt_ps(v, limit);
    const __m128 c = _mm_min_ps(v, cap);
    mn = _mm_min_ps(mn, _mm_or_ps(_mm_and_ps(valid, c), _mm_andnot_ps(valid, above)));
    mx = _mm_max_ps(mx, _mm_or_ps(_mm_and_ps(valid, c), _mm_andnot_ps(valid, below)));
    blank = _mm_or_ps(blank, _mm_cmpngt_ps(v, limit));
    const __m128i m = _mm_castps_si128(valid);
    const __m128i bits = _mm_or_si128(_mm_and_si128(m, _mm_castps_si128(v)), _mm_andnot_si128(m, blankCode));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), Swap32(bits));
  }
  for (float f : Lanes(mn)) scan.Min = f < scan.Min ? f : scan.Min;
  for (float f : Lanes(mx)) scan.Max = f > scan.Max ? f : scan.Max;
  scan.HasBlank = scan.HasBlank || _mm_movemask_ps(blank) != 0;
  return n4;
}

TPlaneScan ScanSse2(std::span<const float> plane, size_t& done) {
  const size_t n8 = plane.size() & ~size_t(7);
  const __m128 limit = _mm_set1_ps(BlankLimit), cap = _mm_set1_ps(1e18f);
  const __m128 above = _mm_set1_ps(1e20f), below = _mm_set1_ps(-1e20f);
  // Two sets of accumulators, so that the loop does not wait on one minimum.
  __m128 mn0 = above, mx0 = below, mn1 = above, mx1 = below, blank = _mm_setzero_ps();
  auto step = [&](const float* p, __m128& mn, __m128& mx) {
    const __m128 v = _mm_loadu_ps(p);
    const __m128 valid = _mm_cmpgt_ps(v, limit);
    const __m128 c = _mm_min_ps(v, cap);
    mn = _mm_min_ps(mn, _mm_or_ps(_mm_and_ps(valid, c), _mm_andnot_ps(valid, above)));
    mx = _mm_max_ps(mx, _mm_or_ps(_mm_and_ps(valid, c), _mm_andnot_ps(valid, below)));
    blank = _mm_or_ps(blank, _mm_cmpngt_ps(v, limit));
  };
  for (size_t i = 0; i < n8; i += 8) {
    step(plane.data() + i, mn0, mx0);
    step(plane.data() + i + 4, mn1, mx1);
  }
  done = n8;
  TPlaneScan r;
  for (float f : Lanes(_mm_min_ps(mn0, mn1))) r.Min = f < r.Min ? f : r.Min;
  for (float f : Lanes(_mm_max_ps(mx0, mx1))) r.Max = f > r.Max ? f : r.Max;
  r.HasBlank = _mm_movemask_ps(blank) != 0;
  return r;
}
#endif

}  // namespace

TPlaneScan ScanPlaneForSave(std::span<const float> plane, bool vector) {
  size_t done = 0;
  TPlaneScan r;
#if ASTRELON_HAVE_SSE2
  if (vector) r = ScanSse2(plane, done);
#endif
  return ScanScalar(plane, done, r);
}

void EncodeFloatRowScanning(std::span<const float> row, uint32_t blankBits, uint8_t* out, TPlaneScan& scan,
                            bool vector) {
  size_t done = 0;
#if ASTRELON_HAVE_SSE2
  if (vector) done = EncodeFloatScanningSse2(row, blankBits, out, scan);
#endif
  TFitsEncoding e;
  e.Bitpix = -32;
  e.BlankBits = blankBits;
  EncodeScalar(row, e, out, done);
  scan = ScanScalar(row, done, scan);
}

int32_t FitsRawCode(double v, const TFitsEncoding& e) {
  const TLimits l = LimitsOf(e.Bitpix);
  double x = (v - e.Bzero) * e.InvScale;
  x = x < l.Lo ? l.Lo : x;
  x = x > l.Hi ? l.Hi : x;
  return int32_t((x + RoundMagic) - RoundMagic);
}

void EncodeFitsRow(std::span<const float> row, const TFitsEncoding& e, uint8_t* out, bool vector) {
  size_t done = 0;
#if ASTRELON_HAVE_SSE2
  if (vector) done = EncodeSse2(row, e, out);
#endif
  EncodeScalar(row, e, out, done);
}

}  // namespace astrelon
