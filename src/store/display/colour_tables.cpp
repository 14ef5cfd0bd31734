// Colour tables of the 8-bit display types. The angles are formed in extended
// precision from stored reciprocal factors, so that the rounded entries come out
// the same on every build.
#include "store/display/colour_tables.h"

#include <algorithm>
#include <cmath>

namespace astrelon {

namespace {

constexpr long double Pi = 3.141592653589793238462643383279502884L;

uint32_t ByteOf(long double v) {
  const long double r = std::nearbyint(std::clamp(v, 0.0L, 255.0L));
  return uint32_t(r);
}

std::array<TColourTable, 8> BuildTables() {
  std::array<TColourTable, 8> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    t[1][i] = PackRgb(i, i, i);
    t[2][i] = PackRgb(i, i, i);
    t[4][i] = PackRgb(i, 0, 0);
    t[5][i] = PackRgb(0, i, 0);
    t[6][i] = PackRgb(0, 0, i);
  }
  for (int i = 0; i < 256; ++i) {
    const long double x = (long double)i * Pi;
    const uint32_t r = i > 212 ? 0 : ByteOf(std::cos(x * 0.0063291139L - 1.0L) * 127.4L + 127.0L);
    const uint32_t g = ByteOf(127.0L - std::cos(x * 0.0074626866L) * 127.4L);
    const uint32_t b = i < 128 ? 0 : ByteOf(std::cos(x * 0.0067567568L + 0.2L) * 127.4L + 127.0L);
    t[3][size_t(255 - i)] = PackRgb(r, g, b);
  }
  for (int i = 0; i < 256; ++i) {
    const long double x = (long double)i * Pi * 0.0078125L;
    const uint32_t r = ByteOf(std::sin(x - 1.0L) * 127.0L + 127.0L);
    const uint32_t g = ByteOf(127.0L - std::cos(x - 1.5L) * 127.0L);
    const uint32_t b = ByteOf(std::cos(x) * 127.0L + 127.0L);
    t[7][size_t(i)] = PackRgb(r, g, b);
  }
  return t;
}

}  // namespace

const std::array<TColourTable, 8>& DisplayColourTables() {
  static const std::array<TColourTable, 8> tables = BuildTables();
  return tables;
}

const TColourTable& ColourTableForType(int displayType) {
  const auto& t = DisplayColourTables();
  if (displayType >= 1 && displayType <= 7) return t[size_t(displayType)];
  return t[1];
}

}  // namespace astrelon
