#pragma once
// Turning float pixels into the big-endian samples of a FITS file: raw code =
// Round((v - BZERO) / BSCALE) (halves to even, in double precision, kept within
// the format's range) for integer formats, the float's own bits for BITPIX -32,
// and the blank code for every blank pixel (NaN included). A scalar path and an
// SSE2 path with the same results.
#include <cstdint>
#include <span>

namespace astrelon {

struct TFitsEncoding {
  int Bitpix = -32;        // 16, 32 or -32
  double Bzero = 0.0;
  double InvScale = 1.0;   // 1 / BSCALE (1 when BSCALE is 0)
  uint32_t BlankBits = 0;  // raw code (two's complement) or float bits of blank pixels
};

// Writes row.size() samples to out (2 or 4 bytes each).
void EncodeFitsRow(std::span<const float> row, const TFitsEncoding& e, uint8_t* out, bool vector);

// The raw code of one valid pixel in an integer format.
int32_t FitsRawCode(double v, const TFitsEncoding& e);

// What the writer needs to know of a plane, found in one pass: the smallest and
// largest valid value (values above 1e18 count as 1e18; with no valid value
// Min is 1e18 or more) and whether a blank pixel (NaN included) occurs.
struct TPlaneScan {
  float Min = 1e20f;
  float Max = -1e20f;
  bool HasBlank = false;
};
TPlaneScan ScanPlaneForSave(std::span<const float> plane, bool vector);

// BITPIX -32 and the scan of the same pixels in one pass: the row is written with
// `blankBits` for its blank pixels, and `scan` takes in its values and blanks.
void EncodeFloatRowScanning(std::span<const float> row, uint32_t blankBits, uint8_t* out, TPlaneScan& scan,
                            bool vector);

}  // namespace astrelon
