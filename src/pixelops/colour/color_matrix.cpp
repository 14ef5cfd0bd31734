#include "pixelops/colour/color_matrix.h"

#include <algorithm>

#include "common/float_range.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {

TColorMatrix ColorCorrection;

namespace {

bool ThreePlanes(const TImageSlot& s) {
  return s.PlaneCount == 3 && s.Planes[1].size() >= s.PixelCount() && s.Planes[2].size() >= s.PixelCount() &&
         s.Planes[3].size() >= s.PixelCount();
}

}  // namespace

bool ApplyColorMatrix(int source, int destination, const TColorMatrix& matrix) {
  if (!SlotInUse(source) || !SlotInUse(destination)) return false;
  const TImageSlot& s = Store.Image[size_t(source)];
  TImageSlot& d = Store.Image[size_t(destination)];
  if (!ThreePlanes(s) || !ThreePlanes(d) || s.Width != d.Width || s.Height != d.Height) return false;
  std::array<float, 9> c{};
  for (size_t i = 0; i < c.size(); ++i) c[i] = float(LimitFactor(matrix.Percent[i] * 0.01));

  const float* r = s.Planes[1].data();
  const float* g = s.Planes[2].data();
  const float* b = s.Planes[3].data();
  float* dr = d.Planes[1].data();
  float* dg = d.Planes[2].data();
  float* db = d.Planes[3].data();
  const int64_t count = int64_t(s.PixelCount());
  // Runs of pixels that are all valid take a plain loop that the compiler
  // vectorises; a run with a blank goes pixel by pixel. Both compute a pixel
  // with the same operations, so the split does not change the result.
  auto mixValid = [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      const float vr = r[i], vg = g[i], vb = b[i];
      dr[i] = c[0] * vr + c[1] * vg + c[2] * vb;
      dg[i] = c[3] * vr + c[4] * vg + c[5] * vb;
      db[i] = c[6] * vr + c[7] * vg + c[8] * vb;
    }
  };
  auto mix = [&](int64_t first, int64_t last) {
    constexpr int64_t Run = 512;
    for (int64_t a = first; a < last; a += Run) {
      const int64_t e = std::min(last, a + Run);
      bool valid = true;
      for (int64_t i = a; i < e; ++i) valid &= IsValidPixel(r[i]) & IsValidPixel(g[i]) & IsValidPixel(b[i]);
      if (valid) {
        mixValid(a, e);
        continue;
      }
      for (int64_t i = a; i < e; ++i)
        if (IsValidPixel(r[i]) && IsValidPixel(g[i]) && IsValidPixel(b[i])) mixValid(i, i + 1);
    }
  };
  constexpr int64_t MinPixelsPerThread = int64_t(1) << 16;
  ForEachBand(count, BandThreads(count, MinPixelsPerThread, Options.Multicore != 0), mix);
  d.DataChanged = 1;
  return true;
}

}  // namespace astrelon
