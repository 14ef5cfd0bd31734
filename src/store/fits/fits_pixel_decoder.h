#pragma once
// Turning the big-endian samples of a FITS file into the program's float pixels:
// physical value = raw x BSCALE + BZERO (in double precision), blank samples,
// and the limits every value is kept within.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <tuple>
#include <vector>

#include "store/fits/fits_header.h"

namespace astrelon {

enum class TFitsBlankRule {
  None,
  RawEquals,  // the raw sample equals the BLANK value (the FITS rule for integer data)
  Physical,   // the physical value lies within 0.01 of the blank value
};

struct TFitsScaling {
  double Bzero = 0.0;
  double Bscale = 1.0;
  TFitsBlankRule Blank = TFitsBlankRule::None;
  double BlankValue = 0.0;
};

// True when the BLANK card of integer data holds a physical value rather than a
// raw code: files whose blank pixels sit at the bottom raw code that a physical
// blank value maps to (-32767..-32764 for BITPIX 16, -327700000 or -327600000 for
// BITPIX 32). Unscaled data cannot tell the two apart and need not.
bool IsPhysicalBlankCard(int bitpix, double bzero, double bscale, double blank);

// Scaling and blank rule for a header: the BLANK card of integer data is a raw
// code (unless IsPhysicalBlankCard); the BLANK card of float data and the
// "COMMENT BLANK " card hold physical values.
TFitsScaling FitsScalingFor(int bitpix, const TFitsHeaderInfo& info);

class TFitsDecoder {
public:
  TFitsDecoder(int bitpix, const TFitsScaling& scaling);

  // Converts n samples at src (n x |BITPIX|/8 bytes) into dst; `vector` lets
  // the unscaled 32-bit formats take an SSE2 path with the same results.
  void DecodeRow(const uint8_t* src, size_t n, float* dst, bool vector) const;
  // One sample, always through the general per-sample path.
  float DecodeSample(const uint8_t* src) const;
  // The pixel of a raw value (an integer sample, or the float/double read).
  float Convert(double raw) const;
  // BITPIX 8 and 16: the pixel of every sample code (CodeOf), 256 or 65536
  // entries; empty for the other formats.
  std::span<const float> CodeTable() const { return table_; }
  // The code of the sample at src (BITPIX 8: the byte; 16: the raw value + 32768).
  static uint32_t Code8(const uint8_t* src) { return *src; }
  static uint32_t Code16(const uint8_t* src) { return uint32_t(src[0] ^ 0x80u) << 8 | src[1]; }

private:
  double RawAt(const uint8_t* src) const;

  int bitpix_;
  TFitsScaling s_;
  bool identity_;            // BSCALE 1, BZERO 0, no blank
  std::vector<float> table_;  // BITPIX 8 and 16: the pixel of every raw value
};

// The decoders of the files of one run, one per distinct format and scaling, so
// that the tables of 8- and 16-bit codes are built once.
class TFitsDecoderCache {
public:
  // The decoder of an opened file whose header was accepted (Layout set).
  const TFitsDecoder& For(const TFitsFile& file);

private:
  std::map<std::tuple<int, double, double, int, double>, std::unique_ptr<TFitsDecoder>> decoders_;
};

}  // namespace astrelon
