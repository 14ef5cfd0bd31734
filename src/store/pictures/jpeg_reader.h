#pragma once
// Reading JPEG files into a slot through libjpeg: full or half scale, grey or
// colour, with the observation date and camera cards of the EXIF block.
#include <cstdint>
#include <span>
#include <string>

#include "common/date_time.h"

namespace astrelon {

class TPictureSink;

enum class TJpegLoad {
  Loaded,        // the slot holds the picture
  Aborted,       // the user declined the half-size question with Abort
  NotDecodable,  // no JPEG that libjpeg can decode (a camera RAW decoder may try it)
};

// Decodes a JPEG in memory into the slot through the sink. halfSize decodes at
// half scale. Throws std::bad_alloc when the planes do not fit in memory.
bool DecodeJpeg(std::span<const uint8_t> data, bool halfSize, int slot, TPictureSink& sink);

// Scale denominator (1, 2, 4 or 8) of the open dialog's preview of a picture
// of this size: the side that decides the fit to 280 x 186 is brought below
// twice the preview's side.
int JpegPreviewScale(uint32_t width, uint32_t height);
// Decodes at the preview scale through the sink (a preview sampler's) and
// reports the picture's full size.
bool DecodeJpegPreview(std::span<const uint8_t> data, TPictureSink& sink, int32_t& fullWidth, int32_t& fullHeight);

// The loader's JPEG path. obsTime receives the EXIF date that the loader may still
// turn into observation cards.
TJpegLoad LoadJpegFile(int slot, const std::string& fileName, TDateTime& obsTime);

// Appends the cards of a file's EXIF block (dates, INSTRUME, EXPTIME, SHUTTER,
// ISO, aperture, AUTHOR) to the slot's header; obsTime as for LoadJpegFile.
void AppendExifCards(int slot, const std::string& fileName, TDateTime& obsTime);

}  // namespace astrelon
