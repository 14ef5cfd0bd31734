#include "store/pictures/jpeg_reader.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

// libjpeg's header needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "platform/jpeg_error.h"

#include <cmath>

#include "common/engine_ui.h"
#include "common/file_bytes.h"
#include "common/pascal_format.h"
#include "core/language.h"
#include "store/header_cards.h"
#include "store/header_dates.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/observation_time.h"
#include "store/pictures/exif_reader.h"
#include "store/pictures/graphic_to_slot.h"

namespace astrelon {

namespace {


// Warnings are silent, except that a file cut short counts as an error: libjpeg
// would fill the missing rows with grey.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) JpegJumpOnError(cinfo);
}


// The largest picture a JPEG file of a given size can hold: every 8 x 8 block
// costs at least one bit. Larger sizes in a header are damage, not pictures.
bool PlausibleSize(uint64_t width, uint64_t height, uint64_t fileBytes) {
  const uint64_t pixels = width * height;
  return pixels <= fileBytes * 1024 && pixels <= 400000000ull;
}

// Adobe CMYK (stored inverted) and plain CMYK to RGB.
void CmykToRgb(const JSAMPLE* in, uint8_t* out, size_t width, bool inverted) {
  for (size_t x = 0; x < width; ++x, in += 4, out += 3) {
    unsigned c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    out[0] = uint8_t((c * k + 127) / 255);
    out[1] = uint8_t((m * k + 127) / 255);
    out[2] = uint8_t((y * k + 127) / 255);
  }
}

enum class TDecodeStep { Done, Aborted, Failed };

// forceHalf of RunDecoder: the open dialog's preview scale.
constexpr int PreviewScaleMode = -2;

// One libjpeg session; askHalf decides the scale for very large pictures. Only
// plain data lives in this frame, so leaving it by longjmp destroys nothing.
TDecodeStep RunDecoder(std::span<const uint8_t> data, int forceHalf, int slot, TPictureSink& sink,
                       uint32_t* fullSize = nullptr) {
  jpeg_decompress_struct cinfo;
  TJpegError err;
  cinfo.err = InstallJpegError(err);
  err.Manager.emit_message = OnMessage;
  if (setjmp(err.Jump)) {
    jpeg_destroy_decompress(&cinfo);
    return TDecodeStep::Failed;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  if (!PlausibleSize(cinfo.image_width, cinfo.image_height, data.size())) {
    jpeg_destroy_decompress(&cinfo);
    return TDecodeStep::Failed;
  }
  if (fullSize) {
    fullSize[0] = cinfo.image_width;
    fullSize[1] = cinfo.image_height;
  }
  const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
  bool half = forceHalf > 0;
  if (forceHalf == -1) {
    // About 500,000 KB of float planes or more: offer half size.
    const int64_t bytesPerPixel = grey ? 1 : 3;
    if ((bytesPerPixel * int64_t(cinfo.image_width) * 4 / 1024) * int64_t(cinfo.image_height) > 500000) {
      switch (EngineUi().AskYesNoCancel(HalfSizeQuestionText(), true)) {
        case TDialogAnswer::Yes: half = true; break;
        case TDialogAnswer::Cancel:
          jpeg_destroy_decompress(&cinfo);
          return TDecodeStep::Aborted;
        default: break;
      }
    }
  }
  cinfo.scale_num = 1;
  cinfo.scale_denom = forceHalf == PreviewScaleMode ? JpegPreviewScale(cinfo.image_width, cinfo.image_height)
                     : half                         ? 2
                                                    : 1;
  jpeg_start_decompress(&cinfo);
  TPictureFormat format;
  format.Width = int32_t(cinfo.output_width);
  format.Height = int32_t(cinfo.output_height);
  format.Channels = grey ? 1 : 3;
  format.BitDepth = 8;
  bool begun = false;
  if (std::exception_ptr e = CaptureException([&] { begun = sink.Begin(slot, format, false); })) {
    jpeg_destroy_decompress(&cinfo);
    std::rethrow_exception(e);
  }
  if (!begun) {
    jpeg_destroy_decompress(&cinfo);
    return TDecodeStep::Failed;
  }
  const JDIMENSION rowsPerCall = JDIMENSION(cinfo.rec_outbuf_height > 0 ? cinfo.rec_outbuf_height : 1);
  const JDIMENSION stride = cinfo.output_width * JDIMENSION(cinfo.output_components);
  JSAMPARRAY rows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, stride, rowsPerCall);
  JSAMPARRAY rgb = cmyk ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                      cinfo.output_width * 3, 1)
                        : nullptr;
  const bool inverted = cmyk && cinfo.saw_Adobe_marker;
  while (cinfo.output_scanline < cinfo.output_height) {
    const JDIMENSION n = jpeg_read_scanlines(&cinfo, rows, rowsPerCall);
    // The sink may run out of memory: libjpeg's state goes before the exception leaves.
    if (std::exception_ptr e = CaptureException([&] {
          for (JDIMENSION i = 0; i < n; ++i) {
            if (cmyk) {
              CmykToRgb(rows[i], rgb[0], cinfo.output_width, inverted);
              sink.PutRow(rgb[0]);
            } else {
              sink.PutRow(rows[i]);
            }
          }
        })) {
      jpeg_destroy_decompress(&cinfo);
      std::rethrow_exception(e);
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return TDecodeStep::Done;
}

// A card "KEY     = 'text'" with quotes doubled, cut so the closing quote stays in column 80.
}  // namespace

bool DecodeJpeg(std::span<const uint8_t> data, bool halfSize, int slot, TPictureSink& sink) {
  return RunDecoder(data, halfSize ? 1 : 0, slot, sink) == TDecodeStep::Done;
}

int JpegPreviewScale(uint32_t width, uint32_t height) {
  auto scale = [](uint32_t side, uint32_t box) { return side < 2 * box ? 1 : side < 4 * box ? 2 : side < 8 * box ? 4 : 8; };
  // Wider than 280:186, compared without division.
  return uint64_t(width) * 186 > uint64_t(height) * 280 ? scale(width, 280) : scale(height, 186);
}

bool DecodeJpegPreview(std::span<const uint8_t> data, TPictureSink& sink, int32_t& fullWidth, int32_t& fullHeight) {
  uint32_t size[2] = {0, 0};
  const bool done = RunDecoder(data, PreviewScaleMode, 0, sink, size) == TDecodeStep::Done;
  fullWidth = int32_t(size[0]);
  fullHeight = int32_t(size[1]);
  return done;
}

void AppendExifCards(int slot, const std::string& fileName, TDateTime& obsTime) {
  TExif exif;
  exif.ExifTagsLesen(fileName);
  obsTime = ParseDateTimeText(exif.DateTimeDigitized);
  if (obsTime <= 0.0) obsTime = ParseDateTimeText(exif.DateTimeOriginal);
  if (obsTime > 0.0) AppendDateCards(slot, obsTime, true);
  else obsTime = ParseDateTimeText(exif.DateTime);
  if (!exif.Make.empty()) AppendHeaderCard(slot, QuotedCard("INSTRUME= ", exif.Make + " " + exif.Model));
  if (!exif.ExposureTime.empty()) {
    AppendHeaderCard(slot, "EXPTIME =  " + exif.ExposureTime);
    if (!exif.ShutterSpeed.empty()) AppendHeaderCard(slot, "SHUTTER =  " + exif.ShutterSpeed);
  } else if (!exif.ShutterSpeed.empty()) {
    // The shutter speed value is the reciprocal exposure time.
    const std::optional<double> v = TryStrToFloat(exif.ShutterSpeed);
    if (v && *v > 0.0) AppendHeaderCard(slot, "EXPTIME =  " + FloatToStrF(1.0 / *v, TFloatFormat::Exponent, 14, 2));
  }
  if (exif.IsoSpeed > 0) AppendHeaderCard(slot, "COMMENT    ISO " + FormatFixed(exif.IsoSpeed, 0));
  if (!exif.ApertureValue.empty()) {
    // The APEX aperture value Av gives the f-number 2^(Av/2).
    if (const std::optional<double> av = TryStrToFloat(exif.ApertureValue))
      AppendHeaderCard(slot, "COMMENT    Aperture " + FormatFixed(std::pow(2.0, *av / 2.0), 1));
  }
  if (!exif.Artist.empty()) AppendHeaderCard(slot, QuotedCard("AUTHOR  = ", exif.Artist));
}

TJpegLoad LoadJpegFile(int slot, const std::string& fileName, TDateTime& obsTime) {
  std::vector<uint8_t> data;
  if (!ReadFileBytes(fileName, data)) return TJpegLoad::NotDecodable;
  TPictureSink sink;
  const TDecodeStep step = RunDecoder(data, -1, slot, sink);
  data = {};
  TImageSlot& im = Store.Image[slot];
  // The file size serves the JPEG size estimate of the save dialog.
  TDateTime scanned = UnknownDateTime;
  int32_t size = 0;
  ScanFileForExifDate(fileName, scanned, size);
  im.JpegFileSize = size;
  if (step == TDecodeStep::Aborted) {
    Store.InUse[slot] = 0;
    return TJpegLoad::Aborted;
  }
  if (step == TDecodeStep::Failed || !sink.Finish()) {
    sink.Stop();
    Store.InUse[slot] = 0;
    im.FreePlanes();
    im.JpegFileSize = 0;
    return TJpegLoad::NotDecodable;
  }
  try {
    AppendExifCards(slot, fileName, obsTime);
  } catch (const std::exception&) {
    // The image stays loaded without its EXIF cards.
  }
  return TJpegLoad::Loaded;
}

}  // namespace astrelon
