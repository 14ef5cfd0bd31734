#include "store/fits/fits_pixel_decoder.h"

#include <bit>
#include <cmath>

#include "platform/simd_support.h"
#include "store/fits/fits_layout.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

// Every read value is kept within -1e11 (blank) and 1e17; NaN is blank.
inline float Finish(double v) {
  if (v > 1e17) return 1e17f;
  if (!(v >= -1e11)) return BlankPixel;
  return float(v);
}

#if ASTRELON_HAVE_SSE2
inline __m128i Swap32(__m128i x) {
  x = _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, 0xB1), 0xB1);
}

// Unscaled BITPIX -32 (floats kept within -1e11 and 1e17, NaN blank) or 32
// (integers to float); returns the number of samples done (a multiple of 4).
size_t DecodeIdentitySse2(const uint8_t* src, size_t n, float* dst, bool floats) {
  const size_t n4 = n & ~size_t(3);
  const __m128 cap = _mm_set1_ps(1e17f), floor = _mm_set1_ps(-1e11f), blank = _mm_set1_ps(BlankPixel);
  for (size_t i = 0; i < n4; i += 4) {
    const __m128i raw = Swap32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i)));
    __m128 v;
    if (floats) {
      v = _mm_castsi128_ps(raw);
      const __m128 keep = _mm_cmpge_ps(v, floor);  // false for NaN
      v = _mm_or_ps(_mm_and_ps(keep, _mm_min_ps(v, cap)), _mm_andnot_ps(keep, blank));
    } else {
      v = _mm_cvtepi32_ps(raw);
    }
    _mm_storeu_ps(dst + i, v);
  }
  return n4;
}
#endif

}  // namespace

bool IsPhysicalBlankCard(int bitpix, double bzero, double bscale, double blank) {
  if (bitpix != 16 && bitpix != 32) return false;
  if (!(bscale > 0) || (bscale == 1.0 && bzero == 0.0)) return false;
  // The unsigned conventions (BZERO 2^15 or 2^31 with BSCALE 1) always mean raw codes.
  if (bscale == 1.0 && (bzero == 32768.0 || bzero == 2147483648.0)) return false;
  const double r = (blank - bzero) / bscale;
  if (bitpix == 16) return r >= -32767.5 && r <= -32763.5;
  return std::fabs(r + 327700000.0) <= 1.0 || std::fabs(r + 327600000.0) <= 1.0;
}

TFitsScaling FitsScalingFor(int bitpix, const TFitsHeaderInfo& info) {
  TFitsScaling s;
  s.Bzero = info.Bzero;
  s.Bscale = info.Bscale;
  if (!info.BlankDefined) return s;
  s.BlankValue = info.BlankValue;
  const bool integer = bitpix > 0;
  if (integer && info.BlankFromKeyword && !IsPhysicalBlankCard(bitpix, info.Bzero, info.Bscale, info.BlankValue))
    s.Blank = TFitsBlankRule::RawEquals;
  else
    s.Blank = TFitsBlankRule::Physical;
  return s;
}

TFitsDecoder::TFitsDecoder(int bitpix, const TFitsScaling& scaling)
    : bitpix_(bitpix),
      s_(scaling),
      identity_(scaling.Bscale == 1.0 && scaling.Bzero == 0.0 && scaling.Blank == TFitsBlankRule::None) {
  if (bitpix == 8) {
    table_.resize(256);
    for (int raw = 0; raw < 256; ++raw) table_[size_t(raw)] = Convert(raw);
  } else if (bitpix == 16) {
    // Indexed by the raw value + 32768, which is its bit pattern with the top bit flipped.
    table_.resize(65536);
    for (int raw = -32768; raw < 32768; ++raw) table_[size_t(raw + 32768)] = Convert(raw);
  }
}

float TFitsDecoder::Convert(double raw) const {
  const double v = raw * s_.Bscale + s_.Bzero;
  switch (s_.Blank) {
    case TFitsBlankRule::None:
      break;
    case TFitsBlankRule::RawEquals:
      if (raw == s_.BlankValue) return BlankPixel;
      break;
    case TFitsBlankRule::Physical:
      if (std::fabs(v - s_.BlankValue) < 0.01) return BlankPixel;
      break;
  }
  return Finish(v);
}

double TFitsDecoder::RawAt(const uint8_t* p) const {
  switch (bitpix_) {
    case 8:
      return *p;
    case 16:
      return int16_t(LoadBe16(p));
    case 32:
      return int32_t(LoadBe32(p));
    case -32:
      return std::bit_cast<float>(LoadBe32(p));
    default:
      return std::bit_cast<double>(LoadBe64(p));
  }
}

float TFitsDecoder::DecodeSample(const uint8_t* src) const { return Convert(RawAt(src)); }

void TFitsDecoder::DecodeRow(const uint8_t* src, size_t n, float* dst, bool vector) const {
#if ASTRELON_HAVE_SSE2
  if (vector && identity_ && (bitpix_ == 32 || bitpix_ == -32)) {
    const size_t done = DecodeIdentitySse2(src, n, dst, bitpix_ == -32);
    src += 4 * done;
    dst += done;
    n -= done;
  }
#endif
  switch (bitpix_) {
    case 8:
      for (size_t i = 0; i < n; ++i) dst[i] = table_[src[i]];
      return;
    case 16: {
      const float* t = table_.data();
      size_t i = 0;
      // Four lookups under way at a time: the table (256 KB) is read from the
      // second-level cache, and one lookup after the other would wait on each.
      for (; i + 4 <= n; i += 4) {
        const float a = t[Code16(src + 2 * i)], b = t[Code16(src + 2 * i + 2)];
        const float c = t[Code16(src + 2 * i + 4)], d = t[Code16(src + 2 * i + 6)];
        dst[i] = a;
        dst[i + 1] = b;
        dst[i + 2] = c;
        dst[i + 3] = d;
      }
      for (; i < n; ++i) dst[i] = t[Code16(src + 2 * i)];
      return;
    }
    case 32:
      if (identity_) {
        // Exact: a 32-bit integer rounds to float the same way directly or through double.
        for (size_t i = 0; i < n; ++i) dst[i] = float(int32_t(LoadBe32(src + 4 * i)));
        return;
      }
      break;
    case -32:
      if (identity_) {
        // Same results as Convert: for a float f the double comparisons with 1e17
        // and -1e11 pick the same outputs as these float comparisons.
        for (size_t i = 0; i < n; ++i) {
          const float f = std::bit_cast<float>(LoadBe32(src + 4 * i));
          dst[i] = f > 1e17f ? 1e17f : (f >= -1e11f ? f : BlankPixel);
        }
        return;
      }
      break;
    default:
      break;
  }
  const size_t step = size_t(bitpix_ < 0 ? -bitpix_ : bitpix_) / 8;
  for (size_t i = 0; i < n; ++i) dst[i] = Convert(RawAt(src + step * i));
}

const TFitsDecoder& TFitsDecoderCache::For(const TFitsFile& file) {
  const int bitpix = file.Layout->Bitpix;
  const TFitsScaling s = FitsScalingFor(bitpix, file.Info);
  const auto key = std::make_tuple(bitpix, s.Bzero, s.Bscale, int(s.Blank), s.BlankValue);
  auto it = decoders_.find(key);
  if (it == decoders_.end()) it = decoders_.emplace(key, std::make_unique<TFitsDecoder>(bitpix, s)).first;
  return *it->second;
}

}  // namespace astrelon
