#include "store/pictures/jpeg_bitmap_decode.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "platform/jpeg_error.h"

#include "store/display/colour_tables.h"
#include "store/display/display_bitmap.h"

namespace astrelon {

namespace {

// One libjpeg session; only plain data lives in this frame.
bool RunDecoder(std::span<const uint8_t> data, bool grey, TDisplayBitmap& bmp) {
  jpeg_decompress_struct cinfo;
  TJpegError err;
  cinfo.err = InstallJpegError(err);
  if (setjmp(err.Jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  if (cinfo.image_width < 1 || cinfo.image_height < 1 || cinfo.image_width > 65500 || cinfo.image_height > 65500) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  try {
    bmp.Resize(int32_t(cinfo.output_width), int32_t(cinfo.output_height),
               grey ? TBitmapFormat::Indexed8 : TBitmapFormat::Bgr24);
  } catch (...) {
    jpeg_destroy_decompress(&cinfo);
    throw;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = bmp.Row(int(cinfo.output_scanline)).data();
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

bool DecodeJpegBitmap(std::span<const uint8_t> data, bool grey, TDisplayBitmap& bitmap) {
  if (data.size() < 4) return false;
  if (!RunDecoder(data, grey, bitmap)) return false;
  if (grey)
    for (int i = 0; i < 256; ++i) bitmap.ColourTable[size_t(i)] = PackRgb(uint32_t(i), uint32_t(i), uint32_t(i));
  return true;
}

}  // namespace astrelon
