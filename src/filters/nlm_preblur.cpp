#include "filters/nlm_preblur.h"

#include <cmath>
#include <vector>

#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr double BlurRadius = 12.0;

// Coefficients of the third-order recursion (Young and van Vliet) for the radius.
struct TRecursion {
  double B = 0, B1 = 0, B2 = 0, B3 = 0, B0 = 1;
  int32_t Start = 1;  // values whose mean starts a line
};

TRecursion Recursion(double radius) {
  TRecursion c;
  const double sigma = radius / 1.49;
  const double q = sigma <= 2.5 ? 3.97156 - 4.14554 * std::sqrt(1 - 0.26891 * sigma) : 0.98711 * sigma - 0.96330;
  c.B0 = 1.57825 + 2.44413 * q + 1.4281 * q * q + 0.422205 * q * q * q;
  c.B1 = 2.44413 * q + 2.8562 * q * q + 1.266615 * q * q * q;
  c.B2 = -(1.4281 * q * q + 1.266615 * q * q * q);
  c.B3 = 0.422205 * q * q * q;
  c.B = 1 - (c.B1 + c.B2 + c.B3) / c.B0;
  c.Start = int32_t(std::nearbyint(sigma + 1)) + 1;
  return c;
}

// One line of `count` values at `line[i * step]`, in place; blanks are bridged
// with the latest valid value and written back blank.
void BlurLine(float* line, int64_t step, int32_t count, const TRecursion& c, std::vector<double>& w) {
  int32_t t = 0;
  while (t < count && !IsValidPixel(line[t * step])) ++t;
  if (t >= count) return;
  w.assign(size_t(count) + 6, 0.0);
  double* v = w.data() + 3;  // v[-3..count+2]
  double latest = line[t * step], mean = 0;
  int32_t taken = 0;
  for (int32_t i = t; i < count && taken < c.Start; ++i, ++taken) {
    if (IsValidPixel(line[i * step])) latest = line[i * step];
    mean += latest;
  }
  mean /= taken;
  v[t - 1] = v[t - 2] = v[t - 3] = mean;
  latest = line[t * step];
  for (int32_t i = t; i < count + 3; ++i) {
    if (i < count && IsValidPixel(line[i * step])) latest = line[i * step];
    v[i] = c.B * latest + (c.B1 * v[i - 1] + c.B2 * v[i - 2] + c.B3 * v[i - 3]) / c.B0;
  }
  for (int32_t i = count - 1; i >= t; --i) v[i] = c.B * v[i] + (c.B1 * v[i + 1] + c.B2 * v[i + 2] + c.B3 * v[i + 3]) / c.B0;
  for (int32_t i = t; i < count; ++i)
    if (IsValidPixel(line[i * step])) line[i * step] = float(v[i]);
}

}  // namespace

void NlmPreBlur(int slot, int p) {
  if (!SlotInUse(slot) || p < 1 || p > 3) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  if (im.Planes[size_t(p)].size() != im.PixelCount() || im.PixelCount() == 0) return;
  const TRecursion c = Recursion(BlurRadius);
  std::vector<double> work;
  float* plane = im.Planes[size_t(p)].data();
  for (int32_t x = 0; x < im.Width && !AbortRequested; ++x) BlurLine(plane + x, im.Width, im.Height, c, work);
  for (int32_t y = 0; y < im.Height && !AbortRequested; ++y) BlurLine(plane + int64_t(y) * im.Width, 1, im.Width, c, work);
}

}  // namespace astrelon
