#include "pixelops/color_matrix.h"

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
  for (size_t i = 0; i < c.size(); ++i) c[i] = float(matrix.Percent[i] * 0.01);

  const float* r = s.Planes[1].data();
  const float* g = s.Planes[2].data();
  const float* b = s.Planes[3].data();
  float* dr = d.Planes[1].data();
  float* dg = d.Planes[2].data();
  float* db = d.Planes[3].data();
  const int64_t count = int64_t(s.PixelCount());
  auto mix = [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i) {
      const float vr = r[i], vg = g[i], vb = b[i];
      const bool valid = IsValidPixel(vr) && IsValidPixel(vg) && IsValidPixel(vb);
      const float nr = c[0] * vr + c[1] * vg + c[2] * vb;
      const float ng = c[3] * vr + c[4] * vg + c[5] * vb;
      const float nb = c[6] * vr + c[7] * vg + c[8] * vb;
      // Branch-free selection keeps the loop vectorisable.
      dr[i] = valid ? nr : dr[i];
      dg[i] = valid ? ng : dg[i];
      db[i] = valid ? nb : db[i];
    }
  };
  constexpr int64_t MinPixelsPerThread = int64_t(1) << 16;
  ForEachBand(count, BandThreads(count, MinPixelsPerThread, Options.Multicore != 0), mix);
  d.DataChanged = 1;
  return true;
}

}  // namespace astrelon
