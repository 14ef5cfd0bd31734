#include "store/pictures/png_reader.h"

#include <png.h>

#include <cstring>
#include <vector>

#include "common/engine_ui.h"
#include "common/file_bytes.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/pictures/graphic_to_slot.h"

namespace astrelon {

namespace {

// Everything the decoder touches after setjmp lives here, outside its frame.
struct TPngSession {
  std::span<const uint8_t> Data;
  size_t Pos = 0;
  std::vector<uint8_t> Rows8;    // one row, or the whole picture when interlaced
  std::vector<uint16_t> Rows16;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t length) {
  auto* s = static_cast<TPngSession*>(png_get_io_ptr(png));
  if (length > s->Data.size() - s->Pos) png_error(png, "file cut short");
  std::memcpy(out, s->Data.data() + s->Pos, length);
  s->Pos += length;
}

[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

bool RunDecoder(TPngSession& s, int slot, TPictureSink& sink) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &s, ReadBytes);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  const int colourType = png_get_color_type(png, info);
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (bitDepth == 16) png_set_swap(png);  // native byte order on this little-endian host
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  const int channels = png_get_channels(png, info);
  // Deflate packs at most about 1032 bytes into one: a header that promises
  // more than that from the file's size is damaged.
  const uint64_t rawBytes = uint64_t(rowBytes) * height;
  if (uint64_t(width) * height > 400000000ull || rawBytes > uint64_t(s.Data.size()) * 1100 + 65536) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  TPictureFormat format;
  format.Width = int32_t(width);
  format.Height = int32_t(height);
  format.Channels = channels;
  format.BitDepth = bitDepth == 16 ? 16 : 8;
  format.AlphaBlanks = colourType == PNG_COLOR_TYPE_GRAY_ALPHA || colourType == PNG_COLOR_TYPE_RGB_ALPHA;
  const size_t keptRows = passes > 1 ? height : 1;
  bool begun = false;
  if (std::exception_ptr e = CaptureException([&] {
        if (format.BitDepth == 16) s.Rows16.resize(rowBytes / 2 * keptRows);
        else s.Rows8.resize(rowBytes * keptRows);
        begun = sink.Begin(slot, format, false);
      })) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::rethrow_exception(e);
  }
  if (!begun) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  auto row = [&](size_t y) -> png_bytep {
    return format.BitDepth == 16 ? reinterpret_cast<png_bytep>(s.Rows16.data() + y * (rowBytes / 2))
                                 : s.Rows8.data() + y * rowBytes;
  };
  // The sink may run out of memory: libpng's state goes before the exception leaves.
  auto put = [&](size_t from, size_t count) {
    if (std::exception_ptr e = CaptureException([&] {
          for (size_t y = from; y < from + count; ++y) {
            if (format.BitDepth == 16) sink.PutRow(s.Rows16.data() + y * (rowBytes / 2));
            else sink.PutRow(s.Rows8.data() + y * rowBytes);
          }
        })) {
      png_destroy_read_struct(&png, &info, nullptr);
      std::rethrow_exception(e);
    }
  };
  if (passes > 1) {
    for (int pass = 0; pass < passes; ++pass)
      for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, row(y), nullptr);
    put(0, height);
  } else {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, row(0), nullptr);
      put(0, 1);
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace

bool DecodePng(std::span<const uint8_t> data, int slot, TPictureSink& sink) {
  TPngSession session;
  session.Data = data;
  return RunDecoder(session, slot, sink);
}

bool LoadPngFile(int slot, const std::string& fileName) { return LoadPictureFile(slot, fileName, DecodePng); }

}  // namespace astrelon
