#include "platform/yuv_to_rgb.h"

#include <algorithm>
#include <array>

#include "platform/simd_support.h"

namespace astrelon {

namespace {

// Coefficients in units of 1/8192. A term is (value x 128 x coefficient) >> 16,
// which is value x coefficient at a scale of 16; the sum is rounded back to 8 bits.
struct TCoefficients {
  int16_t Y, CrR, CbG, CrG, CbB;
};
constexpr TCoefficients FullRange{8192, 11485, 2819, 5850, 14516};      // 1, 1.402, 0.344136, 0.714136, 1.772
constexpr TCoefficients LimitedRange{9539, 13075, 3209, 6660, 16525};  // 255/219 and 255/224 of those

inline int MulHigh(int a, int b) { return (a * b) >> 16; }

inline uint8_t ToByte(int v) { return uint8_t(std::clamp((v + 8) >> 4, 0, 255)); }

inline void PixelToRgb(int y, int cb, int cr, const TCoefficients& k, bool full, uint8_t* out) {
  const int luma = full ? y * 16 : MulHigh((y - 16) * 128, k.Y);
  const int b7 = (cb - 128) * 128, r7 = (cr - 128) * 128;
  out[0] = ToByte(luma + MulHigh(r7, k.CrR));
  out[1] = ToByte(luma - MulHigh(b7, k.CbG) - MulHigh(r7, k.CrG));
  out[2] = ToByte(luma + MulHigh(b7, k.CbB));
}

void RowScalar(const TYuvRow& row, uint8_t* rgb, int32_t from) {
  const TCoefficients& k = row.FullRange ? FullRange : LimitedRange;
  for (int32_t x = from; x < row.Width; ++x)
    PixelToRgb(row.Y[x], row.Cb[x >> row.ChromaShift], row.Cr[x >> row.ChromaShift], k, row.FullRange, rgb + 3 * x);
}

#if ASTRELON_HAVE_AVX2

// pshufb masks that put 16 red, 16 green and 16 blue bytes into 48 bytes of triples.
struct TInterleaveMasks {
  alignas(16) std::array<std::array<std::array<int8_t, 16>, 3>, 3> Mask{};
  constexpr TInterleaveMasks() {
    for (int part = 0; part < 3; ++part)
      for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 16; ++k) {
          const int byte = 16 * part + k;
          Mask[size_t(part)][size_t(c)][size_t(k)] = byte % 3 == c ? int8_t(byte / 3) : int8_t(-128);
        }
  }
};
constexpr TInterleaveMasks Interleave{};

ASTRELON_AVX2 __m256i Chroma16(const uint8_t* c, int32_t x, int shift) {
  if (shift == 0) return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + x)));
  const __m128i half = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c + (x >> 1))));
  return _mm256_set_m128i(_mm_unpackhi_epi16(half, half), _mm_unpacklo_epi16(half, half));
}

ASTRELON_AVX2 __m128i Narrow(__m256i v) {
  v = _mm256_srai_epi16(_mm256_add_epi16(v, _mm256_set1_epi16(8)), 4);
  return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

// Sixteen pixels at a time, the same arithmetic in 16-bit lanes as PixelToRgb.
ASTRELON_AVX2 int32_t RowAvx2(const TYuvRow& row, uint8_t* rgb) {
  const TCoefficients& k = row.FullRange ? FullRange : LimitedRange;
  const __m256i kY = _mm256_set1_epi16(k.Y), kCrR = _mm256_set1_epi16(k.CrR), kCbG = _mm256_set1_epi16(k.CbG);
  const __m256i kCrG = _mm256_set1_epi16(k.CrG), kCbB = _mm256_set1_epi16(k.CbB);
  const __m256i c128 = _mm256_set1_epi16(128), c16 = _mm256_set1_epi16(16);
  // An aligned row is written past the caches: the picture is larger than they are.
  const bool stream = (reinterpret_cast<uintptr_t>(rgb) & 15) == 0;
  int32_t x = 0;
  for (; x + 16 <= row.Width; x += 16) {
    const __m256i y = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row.Y + x)));
    const __m256i luma = row.FullRange ? _mm256_slli_epi16(y, 4)
                                       : _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(y, c16), 7), kY);
    const __m256i b7 = _mm256_slli_epi16(_mm256_sub_epi16(Chroma16(row.Cb, x, row.ChromaShift), c128), 7);
    const __m256i r7 = _mm256_slli_epi16(_mm256_sub_epi16(Chroma16(row.Cr, x, row.ChromaShift), c128), 7);
    const __m128i r = Narrow(_mm256_add_epi16(luma, _mm256_mulhi_epi16(r7, kCrR)));
    const __m128i g = Narrow(
        _mm256_sub_epi16(_mm256_sub_epi16(luma, _mm256_mulhi_epi16(b7, kCbG)), _mm256_mulhi_epi16(r7, kCrG)));
    const __m128i b = Narrow(_mm256_add_epi16(luma, _mm256_mulhi_epi16(b7, kCbB)));
    for (size_t part = 0; part < 3; ++part) {
      const auto& m = Interleave.Mask[part];
      const __m128i o = _mm_or_si128(
          _mm_or_si128(_mm_shuffle_epi8(r, _mm_load_si128(reinterpret_cast<const __m128i*>(m[0].data()))),
                       _mm_shuffle_epi8(g, _mm_load_si128(reinterpret_cast<const __m128i*>(m[1].data())))),
          _mm_shuffle_epi8(b, _mm_load_si128(reinterpret_cast<const __m128i*>(m[2].data()))));
      __m128i* to = reinterpret_cast<__m128i*>(rgb + 3 * x + 16 * int32_t(part));
      if (stream) _mm_stream_si128(to, o);
      else _mm_storeu_si128(to, o);
    }
  }
  _mm_sfence();
  return x;
}

#endif

}  // namespace

void YuvRowToRgb(const TYuvRow& row, uint8_t* rgb, bool vector) {
  int32_t done = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) done = RowAvx2(row, rgb);
#endif
  RowScalar(row, rgb, done);
}

}  // namespace astrelon
