#include "store/tiff/tiff_preview.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "store/display/colour_tables.h"
#include "store/tiff/tiff_file.h"
#include "store/tiff/tiff_writer.h"

namespace astrelon {

TPreviewSize FitPreviewSize(int32_t maxWidth, int32_t maxHeight, uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || maxWidth < 1 || maxHeight < 1) return {0, 0};
  if (width <= uint32_t(maxWidth) && height <= uint32_t(maxHeight)) return {int32_t(width), int32_t(height)};
  TPreviewSize s;
  // maxWidth / maxHeight >= width / height, compared without division.
  if (uint64_t(maxWidth) * height >= uint64_t(width) * uint64_t(maxHeight)) {
    s.Height = maxHeight;
    s.Width = int32_t(uint64_t(width) * uint64_t(maxHeight) / height);
  } else {
    s.Width = maxWidth;
    s.Height = int32_t(uint64_t(height) * uint64_t(maxWidth) / width);
  }
  s.Width = std::max(s.Width, 1);  // an extreme aspect ratio still gives a picture
  s.Height = std::max(s.Height, 1);
  return s;
}

namespace {

constexpr uint64_t MaxPreviewPixels = 400'000'000;
// Memory the preview may take for decoded samples. A thumbnail needs a few rows;
// a file whose smallest decodable piece is larger shows no preview.
constexpr uint64_t PreviewBufferBudget = uint64_t(48) << 20;
// Largest ratio of uncompressed to compressed size believed possible for the
// codecs libtiff offers.
constexpr uint64_t MaxCompressionRatio = 4096;

// 1..8 bits: RGBA strips, bottom row of each strip first.
void PreviewRgba(TIFF* tif, const TTiffTags& t, TDisplayBitmap& bitmap) {
  if (t.Tiled) throw TTiffError("tiled");
  const uint32_t rps = std::clamp<uint32_t>(t.RowsPerStrip, 1, t.Height);
  // libtiff decodes a whole strip into its own buffer, then into RGBA here.
  if (uint64_t(t.Width) * rps * 4 + uint64_t(TIFFStripSize64(tif)) > PreviewBufferBudget)
    throw TTiffError("strip too large for a preview");
  std::vector<uint32_t> strip(size_t(t.Width) * rps);
  int64_t loadedStart = -1;
  uint32_t loadedRows = 0;
  for (int32_t r = 0; r < bitmap.Height; ++r) {
    const uint32_t sy = std::min<uint32_t>(uint32_t(uint64_t(r) * t.Height / uint64_t(bitmap.Height)), t.Height - 1);
    if (loadedStart < 0 || sy < uint64_t(loadedStart) || sy >= uint64_t(loadedStart) + loadedRows) {
      const uint32_t start = sy / rps * rps;
      if (!TIFFReadRGBAStripExt(tif, start, strip.data(), 1)) throw TTiffError("strip");
      loadedStart = start;
      loadedRows = std::min(rps, t.Height - start);
    }
    const uint32_t* src = strip.data() + size_t(uint32_t(loadedStart) + loadedRows - sy - 1) * t.Width;
    uint8_t* dst = bitmap.Row(r).data();
    for (int32_t c = 0; c < bitmap.Width; ++c) {
      const uint32_t sx =
          std::min<uint32_t>(uint32_t(uint64_t(c) * t.Width / uint64_t(bitmap.Width)), t.Width - 1);
      const uint32_t px = src[sx];
      dst[c * 3 + 0] = uint8_t(TIFFGetB(px));
      dst[c * 3 + 1] = uint8_t(TIFFGetG(px));
      dst[c * 3 + 2] = uint8_t(TIFFGetR(px));
    }
  }
}

template <typename T, typename F>
void PreviewRow(const uint8_t* row, const TTiffTags& t, TDisplayBitmap& bitmap, int32_t by, F toByte) {
  const auto* src = reinterpret_cast<const T*>(row);
  const int spp = t.SamplesPerPixel;
  const bool colour = bitmap.Format == TBitmapFormat::Bgr24;
  uint8_t* dst = bitmap.Row(by).data();
  int64_t lastColumn = -1;
  for (uint32_t sx = 0; sx < t.Width; ++sx) {
    const int64_t bx = int64_t(uint64_t(sx) * uint64_t(bitmap.Width) / t.Width);
    if (bx == lastColumn) continue;  // only the first source column of each picture column
    lastColumn = bx;
    const T* px = src + size_t(sx) * size_t(spp);
    if (colour) {
      dst[bx * 3 + 0] = toByte(px[2]);
      dst[bx * 3 + 1] = toByte(px[1]);
      dst[bx * 3 + 2] = toByte(px[0]);
    } else {
      dst[bx] = toByte(px[0]);
    }
  }
}

// 16, 32 and 64 bits: row by row (libtiff keeps only the compressed strip);
// each picture row takes the first source row that reaches it.
void PreviewScanlines(TIFF* tif, const TTiffTags& t, TDisplayBitmap& bitmap) {
  if (!UnsupportedDirectLayout(t).empty()) throw TTiffError("layout");
  const uint64_t rowBytes = TiffRowBytes(t);
  if (rowBytes == 0 || uint64_t(TIFFScanlineSize64(tif)) != rowBytes) throw TTiffError("row size");
  if (rowBytes > PreviewBufferBudget) throw TTiffError("row too large for a preview");
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  const bool flip = t.Orientation > 2;
  int64_t lastRow = -1;
  for (uint32_t sy = 0; sy < t.Height; ++sy) {
    // Compressed strips are decoded in order, so every row is read.
    if (TIFFReadScanline(tif, row.data(), sy, 0) != 1) throw TTiffError("row");
    const int64_t by = int64_t(uint64_t(sy) * uint64_t(bitmap.Height) / t.Height);
    if (by == lastRow) continue;
    lastRow = by;
    const int32_t target = flip ? bitmap.Height - 1 - int32_t(by) : int32_t(by);
    if (t.BitsPerSample == 16)
      PreviewRow<uint16_t>(row.data(), t, bitmap, target, [](uint16_t v) { return uint8_t(v >> 8); });
    else if (t.BitsPerSample == 32 && t.SampleFormat == SAMPLEFORMAT_IEEEFP)
      PreviewRow<float>(row.data(), t, bitmap, target, FloatToByteSample);
    else if (t.BitsPerSample == 32)
      PreviewRow<uint32_t>(row.data(), t, bitmap, target, [](uint32_t v) { return uint8_t(v >> 24); });
    else
      // Clamped in double first: a double beyond float range has no float value.
      PreviewRow<double>(row.data(), t, bitmap, target,
                         [](double v) { return FloatToByteSample(float(std::clamp(v, -1.0, 2.0))); });
  }
}

}  // namespace

void LoadTiffPreview(int32_t maxWidth, int32_t maxHeight, const std::string& fileName, TPreviewSize& size,
                     TDisplayBitmap& bitmap) {
  size = {0, 0};
  try {
    TTiffFile file;
    if (!file.OpenRead(fileName)) return;
    const TTiffTags t = ReadTiffTags(file.get());
    if (t.SampleFormat > 3 || t.Width < 1 || t.Height < 1 || uint64_t(t.Width) * t.Height > MaxPreviewPixels) return;
    // A picture larger than any file of this length can hold is damage: refused
    // before a strip buffer is allocated.
    const int64_t fileSize = FileSizeOf(fileName);
    const uint64_t rawBytes = (uint64_t(t.Width) * t.BitsPerSample * t.SamplesPerPixel + 7) / 8 * t.Height;
    if (fileSize <= 0 || rawBytes > uint64_t(fileSize) * (t.Compression == COMPRESSION_NONE ? 1 : MaxCompressionRatio))
      return;
    const TPreviewSize pic = FitPreviewSize(maxWidth, maxHeight, t.Width, t.Height);
    if (pic.Width < 1 || pic.Height < 1) return;
    TDisplayBitmap out;
    if (t.BitsPerSample <= 8) {
      out.Resize(pic.Width, pic.Height, TBitmapFormat::Bgr24);
      PreviewRgba(file.get(), t, out);
    } else {
      const bool colour = t.SamplesPerPixel > 2;
      out.Resize(pic.Width, pic.Height, colour ? TBitmapFormat::Bgr24 : TBitmapFormat::Indexed8);
      if (!colour) out.ColourTable = ColourTableForType(1);
      PreviewScanlines(file.get(), t, out);
    }
    bitmap = std::move(out);
    size = {int32_t(t.Width), int32_t(t.Height)};
  } catch (...) {
    size = {0, 0};
  }
}

}  // namespace astrelon
