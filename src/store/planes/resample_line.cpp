// Resampling of a line of values to another length through the kernel tables.
#include <algorithm>
#include <cmath>

#include "store/image_slot.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

void ResampleLine(std::span<const double> src, std::span<double> dst, TInterpolationKind kind) {
  const int64_t nS = int64_t(src.size());
  const int64_t nD = int64_t(dst.size());
  if (nD == 0) return;
  if (nS == 0) {
    for (double& d : dst) d = BlankPixel;
    return;
  }
  const auto& row = KernelTables()[size_t(kind < 0 || kind >= KernelKindCount ? 0 : kind)];
  const int64_t r = KernelTapBound(kind);
  const bool reducing = nD < nS;
  // Reducing widens the kernel by nS / nD so that every source sample contributes.
  const int64_t taps = reducing ? int64_t(std::nearbyint(double(r) * double(nS) / double(nD) + 0.4)) : r;
  const double scale = reducing ? double(nD) * KernelTableStepsPerPixel / double(nS) : KernelTableStepsPerPixel;
  const double step = nD > 1 ? double(nS - 1) / double(nD - 1) : 0.0;
  // Table entries reach 8.01 pixels; taps beyond that carry no weight.
  const double reach = double(KernelTableSize - KernelTableCentre) / scale + 1.0;
  double p = 0.0;
  for (int64_t i = 0; i < nD; ++i, p += step) {
    const int64_t base = int64_t(p);
    int64_t lo = base + 1 - taps, hi = base + taps;
    lo = std::max<int64_t>({lo, 0, int64_t(std::floor(p - reach))});
    hi = std::min<int64_t>({hi, nS - 1, int64_t(std::ceil(p + reach))});
    double wsum = 0.0, vsum = 0.0;
    for (int64_t s = lo; s <= hi; ++s) {
      const double v = src[size_t(s)];
      if (!(v > double(BlankLimit))) continue;
      const double e = std::nearbyint((double(s) - p) * scale) + KernelTableCentre;
      if (e < 0.0 || e >= double(KernelTableSize)) continue;
      const double w = row[size_t(e)];
      if (w == 0.0) continue;
      wsum += w;
      vsum += w * v;
    }
    dst[size_t(i)] = wsum > 0.1 ? vsum / wsum : double(BlankPixel);
  }
}

}  // namespace astrelon
