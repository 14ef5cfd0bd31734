#pragma once
// Writing a slot as a FITS file (BITPIX 16, 32 or -32) with its header cards,
// the save comment, the display cards and the dark-frame noise card.
#include <cstdint>
#include <ctime>
#include <string>

namespace astrelon {

// Writes the slot; `bitpix` 16 or 32 gives integers with BZERO/BSCALE, any other
// value 32-bit floats. A name whose extension is not .fit or .fts gets the
// setting "Fits Dateiendung". The file is replaced only when it was written
// completely; then the slot takes the name and the updated cards and the result
// is true. On failure the old file, the slot's name and its cards stay.
// Without `writeDisplayCards` the display cards are taken out of the header, so
// that the file is shown from its own values when it is read.
bool SaveFits(int slot, int bitpix, const std::string& fileName, bool writeDisplayCards, bool askDynamicRange);

// How the pixels are written: the scale cards' values as a reader parses them
// back, and the blank pixels' code.
struct TFitsScalePlan {
  int Bitpix = -32;
  bool Scaled = false;        // BZERO and BSCALE cards are written (integer formats)
  double Bzero = 0.0;
  double Bscale = 1.0;
  bool HasBlank = false;
  int64_t BlankCode = 0;      // integer formats: the raw code of blank pixels (the BLANK card)
  float BlankFloat = 0.0f;    // -32: the value written for blank pixels ("COMMENT BLANK ")
};

// The scaling for an image with the given valid minimum and maximum. With blank
// pixels the blank value lies below the minimum and is lowered until no valid
// pixel can read back as blank.
TFitsScalePlan PlanFitsScaling(int bitpix, float minValue, float maxValue, bool hasBlank);

// Seconds since the epoch for the save comment; tests may replace it.
extern std::time_t (*FitsSaveClock)();

}  // namespace astrelon
