#pragma once
// Decoding a JPEG held in memory back into a picture (the counterpart of
// EncodeJpeg for re-compression round trips).
#include <cstdint>
#include <span>

namespace astrelon {

struct TDisplayBitmap;

// Decodes `data` into `bitmap`: with `grey` an 8-bit picture of grey levels
// (grey colour table), else a 24-bit one (blue, green, red). The bitmap keeps its
// buffer when the shape is unchanged. False (bitmap left in an unspecified but
// valid state) for data that is no decodable JPEG or larger than 65500 pixels a side.
bool DecodeJpegBitmap(std::span<const uint8_t> data, bool grey, TDisplayBitmap& bitmap);

}  // namespace astrelon
