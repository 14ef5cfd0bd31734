#pragma once
// Horizontal and vertical line variances of the "Bayer, modified Kimmel"
// interpolation around a red or blue site: variances of the second differences
// along the row and the column, over 5 terms, widened to 13 when the two are
// close. One site, or the sites of one column parity of a row on vector lanes
// with the same double operations in the same order.
#include <array>
#include <cstddef>
#include <cstdint>

namespace astrelon {

struct TKimmelLines {
  const float* C = nullptr;  // the site's own colour (L(0), L(+-2), L(+-3))
  const float* G = nullptr;  // green (L(+-1))
  int32_t W = 0;
  double Limit = 0;  // widened when |vh - vv| / count is below it
};

// At pixel index i of a site that takes part `count` times.
std::array<double, 2> KimmelLineVariances(const TKimmelLines& lines, size_t i, int32_t count);

// Row y, columns x, x + 2, ... up to `last` (reads reach 7 pixels and rows
// around each): vh[x], vv[x] for the sites whose count is above 3 and at least
// `pass`; the others are left as they are.
void KimmelLineVarianceRow(const TKimmelLines& lines, int32_t y, int32_t x, int32_t last, const uint8_t* counts,
                           int32_t pass, double* vh, double* vv, bool vector = true);

}  // namespace astrelon
