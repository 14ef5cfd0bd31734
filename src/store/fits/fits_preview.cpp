#include "store/fits/fits_preview.h"

#include <algorithm>
#include <vector>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "common/paths.h"
#include "core/settings.h"
#include "store/display/display_histogram.h"
#include "store/fits/fits_header.h"
#include "store/fits/fits_pixel_decoder.h"
#include "store/image_store.h"
#include "store/load_messages.h"

namespace astrelon {

namespace {
constexpr int32_t ThumbWidth = 280;
constexpr int32_t ThumbHeight = 186;
constexpr uint64_t WholeRowLimit = uint64_t(1) << 20;
}  // namespace

TThumbnailSize PreviewThumbnailSize(int32_t width, int32_t height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  TThumbnailSize t;
  if (double(width) / height <= 1.5053763) {
    t.Height = ThumbHeight;
    t.Width = std::max<int32_t>(1, Round32(double(width) * ThumbHeight / height));
    t.Scale = double(ThumbHeight) / height;
  } else {
    t.Width = ThumbWidth;
    t.Height = std::max<int32_t>(1, Round32(double(height) * ThumbWidth / width));
    t.Scale = double(ThumbWidth) / width;
  }
  return t;
}

bool LoadFitsPreview(int slot, const std::string& fileName, int32_t& fullWidth, int32_t& fullHeight) {
  if (slot < 0 || slot >= SlotArraySize) return false;
  TFitsFile file;
  if (!OpenFitsFile(fileName, file)) return false;
  if (!file.Layout) {
    EngineUi().ShowMessage(HeaderNotRecognisedText());
    return false;
  }
  const TFitsImageLayout& l = *file.Layout;
  const TFitsInput& in = file.Input;
  fullWidth = l.Width;
  fullHeight = l.Height;

  const TThumbnailSize thumb = PreviewThumbnailSize(l.Width, l.Height);
  const int32_t tw = thumb.Width, th = thumb.Height;
  const double step = 0.999 / thumb.Scale;
  std::vector<int64_t> columns(static_cast<size_t>(tw));
  for (int32_t x = 0; x < tw; ++x) columns[size_t(x)] = std::min<int64_t>(Trunc(x * step), l.Width - 1);

  const TFitsDecoder decoder(l.Bitpix, FitsScalingFor(l.Bitpix, file.Info));
  const bool flip = Options.FitsFlip != 0;
  const int planeCount = l.IsColor ? 3 : 1;
  const size_t n = size_t(tw) * size_t(th);
  std::array<TPlane, 4> planes;
  std::vector<uint8_t> raw(size_t(std::min(l.RowBytes, WholeRowLimit)));
  for (int p = 1; p <= planeCount; ++p) {
    TPlane& plane = planes[size_t(p)];
    plane.assign(n, BlankPixel);
    if (p > l.PlanesInFile) continue;
    const uint64_t planeOffset = l.DataOffset + uint64_t(p - 1) * l.PlaneBytes;
    for (int32_t y = 0; y < th; ++y) {
      const int64_t imageRow = std::min<int64_t>(Trunc(y * step), l.Height - 1);
      const int64_t fileRow = flip ? imageRow : l.Height - 1 - imageRow;
      const uint64_t rowOffset = planeOffset + uint64_t(fileRow) * l.RowBytes;
      float* out = plane.data() + size_t(y) * size_t(tw);
      if (l.RowBytes <= WholeRowLimit) {
        if (!in.ReadAt(rowOffset, std::span(raw.data(), size_t(l.RowBytes)))) return false;
        for (int32_t x = 0; x < tw; ++x)
          out[x] = decoder.DecodeSample(raw.data() + size_t(columns[size_t(x)]) * size_t(l.BytesPerPixel));
      } else {
        for (int32_t x = 0; x < tw; ++x) {
          const uint64_t at = rowOffset + uint64_t(columns[size_t(x)]) * uint64_t(l.BytesPerPixel);
          if (!in.ReadAt(at, std::span(raw.data(), size_t(l.BytesPerPixel)))) return false;
          out[x] = decoder.DecodeSample(raw.data());
        }
      }
    }
  }

  TImageSlot& im = Store.Image[slot];
  im.Width = tw;
  im.Height = th;
  im.IsColor = l.IsColor ? 1 : 0;
  im.PlaneCount = planeCount;
  im.ColorModel = CmRgb;
  if (l.IsColor)
    for (const std::string& c : file.Cards)
      if (c.compare(0, 10, "CTYPE3  = ") == 0 && ContainsStr(c, "YUV")) im.ColorModel = CmYuv;
  for (int p = 1; p <= 3; ++p) im.Planes[size_t(p)] = std::move(planes[size_t(p)]);
  Store.InUse[slot] = 1;
  Store.FileName[slot] = fileName;
  ResetDisplayRange(slot, 0);
  if (Options.BlackToZero && im.MinValue < 0) {
    // Shift the thumbnail so that its minimum and black level become 0.
    const float shift = -im.MinValue;
    for (int p = 1; p <= planeCount; ++p)
      for (float& v : im.Planes[size_t(p)])
        if (IsValidPixel(v)) v += shift;
    ResetDisplayRange(slot, 0);
  }
  Store.Display[slot].CurveMode = 1;
  ComputeHistogram(slot, false, false);
  SetAutoDisplayRange(slot, false);
  return true;
}

}  // namespace astrelon
