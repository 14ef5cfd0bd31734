#include "store/pictures/png_writer.h"

#include <png.h>

#include <algorithm>
#include <string_view>

#include "common/atomic_file.h"
#include "store/display/display_bitmap.h"

namespace astrelon {

size_t PngOutputLimit = 0;

namespace {

enum class TPngKind { Grey, Palette, Rgb };

// Everything the encoder touches after setjmp lives here, outside its frame.
struct TPngOutput {
  std::vector<uint8_t>* Bytes = nullptr;
  std::vector<uint8_t> Row;
};

// Appends to the output; false when it cannot grow (no memory, or the test limit).
bool Append(TPngOutput& o, png_bytep data, png_size_t length) noexcept {
  if (PngOutputLimit > 0 && o.Bytes->size() + length > PngOutputLimit) return false;
  try {
    o.Bytes->insert(o.Bytes->end(), data, data + length);
  } catch (...) {
    return false;
  }
  return true;
}

void WriteBytes(png_structp png, png_bytep data, png_size_t length) {
  // libpng's error jumps away; it must not leave from inside a catch handler.
  if (!Append(*static_cast<TPngOutput*>(png_get_io_ptr(png)), data, length)) png_error(png, "out of memory");
}
void Flush(png_structp) {}
[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

bool GreyTable(const TDisplayBitmap& bmp) {
  for (uint32_t c : bmp.ColourTable)
    if ((c >> 16 & 255) != (c & 255) || (c >> 8 & 255) != (c & 255)) return false;
  return true;
}

void ConvertRow(const TDisplayBitmap& bmp, int y, TPngKind kind, uint8_t* out) {
  const auto row = bmp.Row(y);
  const size_t w = size_t(bmp.Width);
  switch (kind) {
    case TPngKind::Palette:
      std::copy_n(row.data(), w, out);
      break;
    case TPngKind::Grey:
      for (size_t x = 0; x < w; ++x) out[x] = uint8_t(bmp.ColourTable[row[x]] & 255);
      break;
    case TPngKind::Rgb:
      for (size_t x = 0; x < w; ++x) {
        out[3 * x] = row[3 * x + 2];
        out[3 * x + 1] = row[3 * x + 1];
        out[3 * x + 2] = row[3 * x];
      }
      break;
  }
}

bool RunEncoder(const TDisplayBitmap& bmp, int level, bool interlaced, TPngKind kind, TPngOutput& o) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &o, WriteBytes, Flush);
  const int colourType = kind == TPngKind::Grey ? PNG_COLOR_TYPE_GRAY
                         : kind == TPngKind::Palette ? PNG_COLOR_TYPE_PALETTE
                                                     : PNG_COLOR_TYPE_RGB;
  png_set_IHDR(png, info, png_uint_32(bmp.Width), png_uint_32(bmp.Height), 8, colourType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (kind == TPngKind::Palette) {
    png_color palette[256];
    for (int i = 0; i < 256; ++i) {
      const uint32_t c = bmp.ColourTable[size_t(i)];
      palette[i] = {png_byte(c >> 16), png_byte(c >> 8), png_byte(c)};
    }
    png_set_PLTE(png, info, palette, 256);
  }
  png_set_compression_level(png, level);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < bmp.Height; ++y) {
      ConvertRow(bmp, y, kind, o.Row.data());
      png_write_row(png, o.Row.data());
    }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool EncodePng(const TDisplayBitmap& bitmap, int compressionLevel, bool interlaced, std::vector<uint8_t>& out) {
  out.clear();
  if (bitmap.Empty()) return false;
  const TPngKind kind = bitmap.Format == TBitmapFormat::Bgr24 ? TPngKind::Rgb
                        : GreyTable(bitmap)                    ? TPngKind::Grey
                                                               : TPngKind::Palette;
  TPngOutput o;
  o.Bytes = &out;
  o.Row.resize(size_t(bitmap.Width) * (kind == TPngKind::Rgb ? 3 : 1));
  const int level = compressionLevel < 0 ? 0 : compressionLevel > 9 ? 9 : compressionLevel;
  if (!RunEncoder(bitmap, level, interlaced, kind, o)) {
    out.clear();
    return false;
  }
  return true;
}

bool SavePngFile(const TDisplayBitmap& bitmap, int compressionLevel, bool interlaced, const std::string& fileName) {
  std::vector<uint8_t> bytes;
  if (!EncodePng(bitmap, compressionLevel, interlaced, bytes)) return false;
  return WriteFileAtomic(fileName, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace astrelon
