#include "store/pictures/pnm_preview.h"

#include <algorithm>
#include <vector>

#include "common/pascal_format.h"
#include "store/display/colour_tables.h"
#include "store/display/display_record.h"
#include "store/fits/fits_header.h"
#include "store/fits/fits_preview.h"

namespace astrelon {

bool ReadPnmPreviewToken(std::span<const uint8_t> header, size_t& pos, int limit, std::string& token) {
  token.clear();
  for (int n = 0; n < 11; ++n) {
    if (pos >= header.size()) return false;
    const uint8_t c = header[pos++];
    if (c > 32) token += char(c);
    if (c < limit) break;
  }
  return true;
}

bool LoadPnmPreview(TDisplayBitmap& bitmap, const std::string& fileName, int32_t& fullWidth, int32_t& fullHeight) {
  TFitsInput in;
  if (!in.Open(fileName)) return false;
  // Magic and four tokens of at most 11 bytes each.
  std::vector<uint8_t> header(size_t(std::min<uint64_t>(in.Size(), 2 + 4 * 11)));
  if (header.size() < 2 || !in.ReadAt(0, header)) return false;
  const bool colour = header[0] == 'P' && header[1] == '6';
  if (!colour && !(header[0] == 'P' && header[1] == '5')) return false;
  size_t pos = 2;
  std::string token, w, h, m;
  if (!ReadPnmPreviewToken(header, pos, 33, token) || !ReadPnmPreviewToken(header, pos, 33, w) ||
      !ReadPnmPreviewToken(header, pos, 32, h) || !ReadPnmPreviewToken(header, pos, 32, m))
    return false;
  const auto width = TryStrToInt(w), height = TryStrToInt(h), maxval = TryStrToInt(m);
  if (!width || !height || !maxval || *width < 1 || *width > 32767 || *height < 1 || *height > 32767 || *maxval < 1 ||
      *maxval > 65535)
    return false;
  fullWidth = int32_t(*width);
  fullHeight = int32_t(*height);

  const size_t samples = colour ? 3 : 1;
  const size_t bytesPerSample = *maxval < 256 ? 1 : 2;
  const size_t pixelBytes = samples * bytesPerSample;
  const uint64_t rowBytes = uint64_t(*width) * pixelBytes;
  const uint64_t dataStart = pos;

  const TThumbnailSize thumb = PreviewThumbnailSize(fullWidth, fullHeight);
  const double step = 0.999 / thumb.Scale;
  bitmap.Resize(thumb.Width, thumb.Height, colour ? TBitmapFormat::Bgr24 : TBitmapFormat::Indexed8);
  if (!colour) ReadBmpColourTable(bitmap, ColourTableForType(DtGrey));
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  for (int32_t y = 0; y < thumb.Height; ++y) {
    const int64_t r = std::min<int64_t>(Trunc(y * step), fullHeight - 1);
    const uint64_t at = dataStart + uint64_t(r) * rowBytes;
    // Rows past the end of a short file stay black.
    std::fill(row.begin(), row.end(), uint8_t(0));
    if (at < in.Size()) {
      const size_t n = size_t(std::min<uint64_t>(rowBytes, in.Size() - at));
      if (!in.ReadAt(at, std::span(row.data(), n))) return false;
    }
    const std::span<uint8_t> out = bitmap.Row(y);
    for (int32_t x = 0; x < thumb.Width; ++x) {
      const int64_t c = std::min<int64_t>(Trunc(x * step), fullWidth - 1);
      const uint8_t* px = row.data() + size_t(c) * pixelBytes;
      if (colour) {
        // Stored blue, green, red; a 16-bit sample shows its first (high) byte.
        out[size_t(x) * 3 + 0] = px[2 * bytesPerSample];
        out[size_t(x) * 3 + 1] = px[bytesPerSample];
        out[size_t(x) * 3 + 2] = px[0];
      } else {
        out[size_t(x)] = px[0];
      }
    }
  }
  return true;
}

}  // namespace astrelon
