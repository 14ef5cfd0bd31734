#include "store/display/preview_sampler.h"

#include <cstring>

#include "common/file_bytes.h"
#include "store/display/colour_tables.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/tiff/tiff_preview.h"

namespace astrelon {

namespace {

// Source positions of `count` samples spread evenly over `side`, at the centres.
std::vector<int32_t> SamplePositions(int32_t side, int32_t count) {
  std::vector<int32_t> pos(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) pos[size_t(i)] = int32_t((2 * int64_t(i) + 1) * side / (2 * int64_t(count)));
  return pos;
}

}  // namespace

bool TPreviewSampler::Begin(const TPictureFormat& format) {
  format_ = format;
  nextRow_ = 0;
  if (format.Width < 1 || format.Height < 1 || format.Channels < 1 || format.Channels > 4) return false;
  const TPreviewSize size = FitPreviewSize(MaxWidth, MaxHeight, uint32_t(format.Width), uint32_t(format.Height));
  const bool grey = format.Channels <= 2;
  bitmap_.Resize(size.Width, size.Height, grey ? TBitmapFormat::Indexed8 : TBitmapFormat::Bgr24);
  if (grey) ReadBmpColourTable(bitmap_, DisplayColourTables()[1]);
  columns_ = SamplePositions(format.Width, size.Width);
  rows_ = SamplePositions(format.Height, size.Height);
  return true;
}

void TPreviewSampler::PutRow(const unsigned char* samples, int32_t y) {
  if (nextRow_ >= rows_.size() || rows_[nextRow_] != y) return;
  const int ch = format_.Channels;
  const bool sixteen = format_.BitDepth == 16;
  // 16-bit samples show their high byte.
  auto sample = [&](int32_t x, int c) -> uint8_t {
    const size_t i = size_t(x) * size_t(ch) + size_t(c);
    if (!sixteen) return samples[i];
    uint16_t v;
    std::memcpy(&v, samples + 2 * i, 2);
    return uint8_t(v >> 8);
  };
  uint8_t* out = bitmap_.Row(int(nextRow_)).data();
  for (size_t k = 0; k < columns_.size(); ++k) {
    const int32_t x = columns_[k];
    if (ch <= 2) {
      out[k] = sample(x, 0);
    } else {
      out[3 * k] = sample(x, 2);
      out[3 * k + 1] = sample(x, 1);
      out[3 * k + 2] = sample(x, 0);
    }
  }
  ++nextRow_;
}

bool LoadPicturePreview(const std::string& fileName, TPreviewDecoder decode, TDisplayBitmap& bitmap,
                        int32_t& fullWidth, int32_t& fullHeight) {
  fullWidth = fullHeight = 0;
  std::vector<uint8_t> data;
  TPreviewSampler sampler(bitmap);
  TPictureSink sink;
  sink.SampleInto(&sampler);
  if (!ReadFileBytes(fileName, data) || !decode(data, sink) || !sink.Finish()) {
    bitmap.Clear();
    return false;
  }
  fullWidth = sampler.Format().Width;
  fullHeight = sampler.Format().Height;
  return true;
}

}  // namespace astrelon
