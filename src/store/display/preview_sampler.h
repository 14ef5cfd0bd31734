#pragma once
// Small previews of picture files: the rows a decoder produces are sampled
// straight into a bitmap of bounded size, so no full-size copy is ever kept.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/picture.h"
#include "store/display/display_bitmap.h"

namespace astrelon {

class TPictureSink;

// Keeps the rows and columns of a picture that fit a bitmap of at most
// MaxWidth x MaxHeight (a picture that fits is kept whole): grey pictures as
// 8-bit grey, colour pictures as 24-bit; 16-bit samples show their high byte,
// alpha is ignored.
class TPreviewSampler {
public:
  static constexpr int32_t MaxWidth = 1120;
  static constexpr int32_t MaxHeight = 744;

  explicit TPreviewSampler(TDisplayBitmap& bitmap) : bitmap_(bitmap) {}
  // Sizes the bitmap for a picture of this format; false when it has no pixels.
  bool Begin(const TPictureFormat& format);
  // Row y (top first) of Width x Channels samples of the format's depth,
  // 16-bit samples in the machine's byte order.
  void PutRow(const unsigned char* samples, int32_t y);
  const TPictureFormat& Format() const { return format_; }

private:
  TDisplayBitmap& bitmap_;
  TPictureFormat format_;
  std::vector<int32_t> columns_;  // source column of each bitmap column
  std::vector<int32_t> rows_;     // source row of each bitmap row
  size_t nextRow_ = 0;
};

// A decoder of picture data into a sink (the readers of the picture formats).
using TPreviewDecoder = std::function<bool(std::span<const uint8_t> data, TPictureSink& sink)>;

// Reads the file and decodes it through a sampler into `bitmap`; fullWidth and
// fullHeight receive the size of the picture decoded. False, with an empty bitmap, when the
// file cannot be read or decoded.
bool LoadPicturePreview(const std::string& fileName, TPreviewDecoder decode, TDisplayBitmap& bitmap,
                        int32_t& fullWidth, int32_t& fullHeight);

}  // namespace astrelon
