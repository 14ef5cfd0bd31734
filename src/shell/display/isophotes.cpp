// Isophote lines. Each inner pixel is compared with its step ceiling q; the
// pixels are changed in place, so later pixels see the lines drawn before them.
#include "shell/display/isophotes.h"

#include <cmath>

namespace astrelon {

namespace {

template <class T, class Ceiling>
void Isophotes(T* p, int32_t width, int32_t height, int64_t stride, T line, Ceiling ceiling) {
  for (int32_t y = 1; y + 1 < height; ++y) {
    T* row = p + y * stride;
    const T* below = row + stride;
    const T* above = row - stride;
    for (int32_t x = 1; x + 1 < width; ++x) {
      const auto q = ceiling(row[x]);
      if (q < row[x + 1] || q < below[x]) {
        row[x] = line;
      } else {
        if (above[x] < line && above[x] > q) row[x] = line;
        if (row[x - 1] < line && row[x - 1] > q) row[x - 1] = line;
      }
    }
  }
}

}  // namespace

void DrawIsophotes(std::span<uint8_t> pixels, int32_t width, int32_t height, int64_t stride) {
  if (width < 3 || height < 3 || pixels.size() < size_t(stride) * size_t(height)) return;
  Isophotes<uint8_t>(pixels.data(), width, height, stride, uint8_t(255),
                     [](uint8_t v) { return int((v & 224) + 31); });
}

void DrawIsophotesOnPlane(std::span<float> plane, int32_t width, int32_t height) {
  if (width < 3 || height < 3 || plane.size() < size_t(width) * size_t(height)) return;
  Isophotes<float>(plane.data(), width, height, width, 65535.0f, [](float v) {
    // Round in floating point within 0..65535 first; NaN and blanks count as 0.
    const float c = v > 0.0f ? (v < 65535.0f ? v : 65535.0f) : 0.0f;
    return float((int32_t(std::nearbyint(c)) & 0xE000) | 0x1FFF);
  });
}

}  // namespace astrelon
