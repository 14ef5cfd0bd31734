#pragma once
// The EXIF block of a JPEG file (APP1 segment with its TIFF structure): camera,
// dates and exposure values as texts.
#include <cstdint>
#include <span>
#include <string>

namespace astrelon {

class TExif {
public:
  uint8_t HasExif = 0;  // an EXIF APP1 segment was found
  // From the first image directory.
  std::string Make, Model, DateTime, Artist;
  // From the EXIF sub-directory. ExposureTime and ApertureValue are the decimal
  // texts of the rationals (aperture as its APEX value); ShutterSpeed is 2 to the
  // power of the APEX value (the reciprocal exposure time).
  std::string DateTimeOriginal, DateTimeDigitized, ExposureTime, ShutterSpeed, ApertureValue;
  uint16_t IsoSpeed = 0;
  uint8_t Motorola = 0;     // the TIFF structure is big-endian ("MM")
  uint32_t ExifOffset = 0;  // offset of the EXIF sub-directory; 0 = none

  // Reads the EXIF block of a file. A file that does not start like a JPEG or has
  // no EXIF segment leaves every field empty; in a damaged block each value that
  // cannot be read leaves its own field empty.
  void ExifTagsLesen(const std::string& fileName);
  // The same on the bytes of a file.
  void ReadFromBytes(std::span<const uint8_t> file);

private:
  void Clear();
  void ReadTiffBlock(std::span<const uint8_t> block);
};

}  // namespace astrelon
