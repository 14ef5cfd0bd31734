#pragma once
// Writing a slot as a TIFF: 16-bit or 32-bit unsigned integer or 32-bit float
// samples, grey or RGB, contiguous, in strips of at most 64 KiB, uncompressed or
// Deflate-compressed, with the slot's values mapped from low..high onto the
// sample type's range. The file is written beside the target and renamed over it
// when complete, so a failed save leaves an existing file as it was.
#include <array>
#include <cstdint>
#include <string>

#include "store/tiff/tiff_file.h"

namespace astrelon {

// Sample conversions: below 0 and NaN give 0; rounding to nearest, halves to even.
uint8_t FloatToByteSample(float x);    // above 1.0 gives 255, else x * 255
uint16_t FloatToWordSample(float x);   // above 65535 gives 65535
uint32_t FloatToDwordSample(float x);  // above 4294967295 gives 4294967295

// The TIFF type code of the setting "Tiff Speicherformat": bits 0-1 pick the
// sample type (the save dialog's list entry), bit 2 asks for Deflate.
struct TTiffSampleType {
  const char* DialogEntry;  // the save dialog's list entry
  int WriterType;           // SaveTiffImage's type: 1 16-bit, 2 32-bit integer, 3 float
  int BitsPerSample;
  int SampleFormat;         // 1 unsigned, 3 IEEE float
};
inline constexpr std::array<TTiffSampleType, 3> TiffSampleTypes{{
    {"32 Bit Fließkomma", 3, 32, 3},
    {"32 Bit Ganzzahl", 2, 32, 1},
    {"16 Bit Ganzzahl", 1, 16, 1},
}};
// The writer type of a code; type bits 3 (never offered by the dialog) give 16-bit integer.
int TiffWriterTypeOf(int tiffCode);
bool TiffCodeCompressed(int tiffCode);
// The code the save dialog stores: its list entry (0..2) plus 4 when "Komprimiert" is ticked.
int TiffCodeFromDialog(int listEntry, bool compressed);

// The Software tag: "Astrelon <version>  + <libtiff build>".
std::string TiffSoftwareText();

// Writes the slot, mapping low..high onto the type's range (writerType 1..3).
// Throws TTiffError with "Unable to create file '<name>'" or "Failed to write '<name>'".
void SaveTiffImage(int slot, int writerType, bool compressed, double low, double high, const std::string& fileName);

}  // namespace astrelon
