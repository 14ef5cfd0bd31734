#include "store/pictures/jpeg_writer.h"

#include <csetjmp>
#include <cstdio>
#include <algorithm>
#include <string_view>

#include <jerror.h>
#include <jpeglib.h>

#include "platform/jpeg_error.h"

#include "common/atomic_file.h"
#include "store/display/display_bitmap.h"

namespace astrelon {

size_t JpegOutputLimit = 0;

namespace {

// libjpeg's destination: the encoded bytes go straight into the caller's vector,
// which grows by doubling. When it cannot grow, the encoder ends with libjpeg's
// out-of-memory error; the vector stays the caller's, so nothing is freed twice.
struct TVectorDestination {
  jpeg_destination_mgr Pub;
  std::vector<uint8_t>* Out;

  // False when the buffer cannot take `size` bytes (no memory, or the test limit).
  bool Resize(size_t size) noexcept {
    if (JpegOutputLimit > 0 && size > JpegOutputLimit) return false;
    try {
      Out->resize(size);
    } catch (...) {
      return false;
    }
    return true;
  }
};

TVectorDestination& DestinationOf(j_compress_ptr cinfo) { return *reinterpret_cast<TVectorDestination*>(cinfo->dest); }

void InitDestination(j_compress_ptr cinfo) {
  TVectorDestination& d = DestinationOf(cinfo);
  if (!d.Resize(std::max<size_t>(d.Out->size(), 65536))) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
  d.Pub.next_output_byte = d.Out->data();
  d.Pub.free_in_buffer = d.Out->size();
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  TVectorDestination& d = DestinationOf(cinfo);
  // libjpeg calls this with the whole buffer full.
  const size_t used = d.Out->size();
  if (!d.Resize(used * 2)) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
  d.Pub.next_output_byte = d.Out->data() + used;
  d.Pub.free_in_buffer = d.Out->size() - used;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  TVectorDestination& d = DestinationOf(cinfo);
  d.Out->resize(d.Out->size() - d.Pub.free_in_buffer);
}


uint8_t Luminance(uint32_t c) {
  const uint32_t r = c >> 16 & 255, g = c >> 8 & 255, b = c & 255;
  return uint8_t((r * 299 + g * 587 + b * 114 + 500) / 1000);
}

// Row y of the bitmap in the encoder's input layout (grey bytes or R, G, B).
void ConvertRow(const TDisplayBitmap& bmp, int y, bool grey, uint8_t* out) {
  const auto row = bmp.Row(y);
  const size_t w = size_t(bmp.Width);
  if (bmp.Format == TBitmapFormat::Indexed8) {
    const auto& table = bmp.ColourTable;
    if (grey) {
      for (size_t x = 0; x < w; ++x) out[x] = Luminance(table[row[x]]);
    } else {
      for (size_t x = 0; x < w; ++x, out += 3) {
        const uint32_t c = table[row[x]];
        out[0] = uint8_t(c >> 16);
        out[1] = uint8_t(c >> 8);
        out[2] = uint8_t(c);
      }
    }
    return;
  }
  const uint8_t* s = row.data();
  for (size_t x = 0; x < w; ++x, s += 3) {
    if (grey) {
      out[x] = Luminance(uint32_t(s[2]) << 16 | uint32_t(s[1]) << 8 | s[0]);
    } else {
      out[3 * x] = s[2];
      out[3 * x + 1] = s[1];
      out[3 * x + 2] = s[0];
    }
  }
}

// One libjpeg session into `out`; only plain data lives in this frame.
bool RunEncoder(const TDisplayBitmap& bmp, int quality, bool grey, std::vector<uint8_t>& out) {
  jpeg_compress_struct cinfo;
  TJpegError err;
  TVectorDestination dest{};
  dest.Pub.init_destination = InitDestination;
  dest.Pub.empty_output_buffer = EmptyOutputBuffer;
  dest.Pub.term_destination = TermDestination;
  dest.Out = &out;
  cinfo.err = InstallJpegError(err);
  if (setjmp(err.Jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  cinfo.dest = &dest.Pub;
  cinfo.image_width = JDIMENSION(bmp.Width);
  cinfo.image_height = JDIMENSION(bmp.Height);
  cinfo.input_components = grey ? 1 : 3;
  cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                               JDIMENSION(bmp.Width) * JDIMENSION(grey ? 1 : 3), 1);
  while (cinfo.next_scanline < cinfo.image_height) {
    ConvertRow(bmp, int(cinfo.next_scanline), grey, row[0]);
    jpeg_write_scanlines(&cinfo, row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

bool JpegGreyOutput(const TDisplayBitmap& bitmap, int displayType) {
  return bitmap.Format == TBitmapFormat::Indexed8 && displayType < 3;
}

bool EncodeJpeg(const TDisplayBitmap& bitmap, int quality, bool grey, std::vector<uint8_t>& out) {
  out.clear();
  if (bitmap.Empty() || bitmap.Width > 65500 || bitmap.Height > 65500) return false;
  quality = quality < 1 ? 1 : quality > 100 ? 100 : quality;
  if (!RunEncoder(bitmap, quality, grey, out)) {
    out = {};
    return false;
  }
  return !out.empty();
}

bool SaveJpegFile(const TDisplayBitmap& bitmap, int quality, bool grey, const std::string& fileName) {
  std::vector<uint8_t> bytes;
  if (!EncodeJpeg(bitmap, quality, grey, bytes)) return false;
  return WriteFileAtomic(fileName, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

int32_t JpegSizeKB(const TDisplayBitmap& bitmap, int quality, bool grey) {
  std::vector<uint8_t> bytes;
  if (!EncodeJpeg(bitmap, quality, grey, bytes)) return -1;
  return int32_t(bytes.size() / 1024);
}

}  // namespace astrelon
