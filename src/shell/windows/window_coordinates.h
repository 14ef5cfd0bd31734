#pragma once
// Conversions between positions in an image window and image pixels at a zoom in
// percent. All integer arithmetic; division truncates toward zero.
#include <cstdint>

#include "store/image_store.h"

namespace astrelon {

// Image coordinate of a position v inside the image control.
constexpr int32_t MouseToImageCoord(int zoom, int32_t v) {
  if (zoom < 1) return 0;
  if (zoom < 100) return int32_t((int64_t(v) * 100 + 49) / zoom + 50 / zoom);
  return int32_t((int64_t(v) * 100 + 99) / zoom);
}

// Control position (relative to the image control's origin) to image pixel.
constexpr int32_t ControlToImageCoord(int zoom, int32_t v) {
  const int z = zoom < 1 ? 1 : zoom;
  return int32_t(int64_t(v) * 100 / z + 50 / z);
}
// Image pixel to control position (the inverse of ControlToImageCoord).
constexpr int32_t ImageToControlCoord(int zoom, int32_t v) {
  const int z = zoom < 1 ? 1 : zoom;
  return int32_t((int64_t(v) - 50 / z) * z / 100);
}

// Window point (scroll-box pixels) to image point, the image control lying at origin.
constexpr TPointI ScreenToImagePoint(int zoom, TPointI origin, TPointI p) {
  return {ControlToImageCoord(zoom, p.X - origin.X), ControlToImageCoord(zoom, p.Y - origin.Y)};
}
constexpr TPointI ImageToScreenPoint(int zoom, TPointI origin, TPointI p) {
  return {ImageToControlCoord(zoom, p.X) + origin.X, ImageToControlCoord(zoom, p.Y) + origin.Y};
}
// Rectangles: a window rectangle's right/bottom edge is exclusive, an image
// rectangle's inclusive.
constexpr TRectI ScreenToImageRect(int zoom, TPointI origin, TRectI r) {
  const TPointI a = ScreenToImagePoint(zoom, origin, {r.Left, r.Top});
  const TPointI b = ScreenToImagePoint(zoom, origin, {r.Right - 1, r.Bottom - 1});
  return {a.X, a.Y, b.X, b.Y};
}
constexpr TRectI ImageToScreenRect(int zoom, TPointI origin, TRectI r) {
  const TPointI a = ImageToScreenPoint(zoom, origin, {r.Left, r.Top});
  const TPointI b = ImageToScreenPoint(zoom, origin, {r.Right + 1, r.Bottom + 1});
  return {a.X, a.Y, b.X, b.Y};
}

// Image-control position to a position in the built bitmap (built at 25, 50 or
// 100 % of the image).
constexpr int32_t ControlToBitmapCoord(int32_t v, int32_t bitmapWidth, int32_t controlWidth) {
  return controlWidth > 0 ? int32_t(int64_t(v) * bitmapWidth / controlWidth) : v;
}

}  // namespace astrelon
