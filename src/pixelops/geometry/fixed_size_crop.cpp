#include "pixelops/geometry/fixed_size_crop.h"

#include <algorithm>

#include "common/pascal_format.h"
#include "kernels/regions/add_border.h"
#include "kernels/regions/crop_image_rect.h"

namespace astrelon {

std::optional<int32_t> ParseMargin(const std::string& text) {
  const auto v = TryStrToInt(text);
  if (!v || *v < 0 || *v >= 15000) return std::nullopt;
  return int32_t(*v);
}

TCropHeight ParseCropHeight(const std::string& text, int32_t width) {
  TCropHeight r;
  int64_t height = 0;
  if (const size_t colon = text.find(':'); colon != std::string::npos) {
    const auto before = TryStrToInt(text.substr(0, colon)), after = TryStrToInt(text.substr(colon + 1));
    if (!before || !after) return r;
    if (*before == 0) {
      r.Status = TCropHeightStatus::ZeroRatio;
      return r;
    }
    // Both parts are bounded by the parser; keep the product inside 64 bits.
    const int64_t a = std::clamp<int64_t>(*after, -(int64_t(1) << 31), int64_t(1) << 31);
    height = int64_t(width) * a / *before;
    r.Label = IntToStr(height);
  } else {
    const auto v = TryStrToInt(text);
    if (!v) return r;
    height = *v;
  }
  r.Status = height >= 1 && height < 32768 ? TCropHeightStatus::Valid : TCropHeightStatus::OutOfRange;
  r.Height = int32_t(std::clamp<int64_t>(height, 1, 32767));
  return r;
}

TRectI CropFrameRect(int32_t cx, int32_t cy, int32_t w, int32_t h) {
  TRectI r;
  r.Left = cx - w / 2;
  r.Top = cy - h / 2;
  r.Right = r.Left + w - 1;
  r.Bottom = r.Top + h - 1;
  return r;
}

bool CutFixedSize(int src, int dst, const TRectI& frame, TRectI& clipped) {
  if (!SlotInUse(src) || !ValidSlot(dst) || dst == src || Store.InUse[size_t(dst)]) return false;
  const TImageSlot& s = Store.Image[size_t(src)];
  const int64_t x1 = frame.Left, y1 = frame.Top, x2 = frame.Right, y2 = frame.Bottom;
  if (x2 < 0 || y2 < 0 || x1 >= s.Width || y1 >= s.Height || x2 < x1 || y2 < y1) return false;
  const int64_t left = std::max<int64_t>(-x1, 0), top = std::max<int64_t>(-y1, 0);
  const int64_t right = std::max<int64_t>(x2 - s.Width + 1, 0), bottom = std::max<int64_t>(y2 - s.Height + 1, 0);
  clipped = {int32_t(x1 + left), int32_t(y1 + top), int32_t(x2 - right), int32_t(y2 - bottom)};
  // The free slot may hold the record of an image closed before: start afresh.
  Store.Image[size_t(dst)] = TImageSlot{};
  if (!CropImageRect(src, dst, clipped.Left, clipped.Top, clipped.Right, clipped.Bottom)) return false;
  try {
    if (left + top + right + bottom > 0)
      AddBorder(dst, int32_t(top), int32_t(bottom), int32_t(left), int32_t(right), BlankPixel);
  } catch (...) {
    FreeSlot(dst);
    throw;
  }
  return true;
}

}  // namespace astrelon
