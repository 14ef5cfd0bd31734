#include "frequency/deconvolution_mix.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "common/engine_ui.h"
#include "pixelops/rect_runs.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

bool SameSize(int a, int b) {
  const TImageSlot &x = Store.Image[a], &y = Store.Image[b];
  return x.Width == y.Width && x.Height == y.Height;
}

// One row: v + d·(linear + quadratic·|d|) where both are valid.
void MixRow(const float* v, const float* d, float* out, int64_t n, double linear, double quadratic) {
  for (int64_t x = 0; x < n; ++x) {
    const float a = v[x], b = d[x];
    if (IsValidPixel(a) && IsValidPixel(b)) {
      const double db = b;
      out[x] = float(a + db * (linear + quadratic * std::fabs(db)));
    }
  }
}

}  // namespace

bool MixDeconvolutionResult(int source, int destination, int difference, int32_t position,
                            const std::atomic<bool>& stop) {
  if (!SlotInUse(source) || !SlotInUse(destination) || !SlotInUse(difference)) return false;
  if (!SameSize(source, destination) || !SameSize(source, difference)) return false;
  const TImageSlot& src = Store.Image[source];
  const TImageSlot& dif = Store.Image[difference];
  TImageSlot& dst = Store.Image[destination];
  const TDisplayRecord& display = Store.Display[source];
  const double R = std::max((double(display.White) - double(display.Black)) / 2.0, 1.0);
  const double s = std::clamp(position, 0, 30) / 30.0;
  const double linear = 1.0 - s, quadratic = s / R;

  std::vector<int32_t> planes;
  for (const int32_t p : SelectedChannels(source).Planes())
    if (p <= dst.PlaneCount && p <= dif.PlaneCount && src.Planes[p].size() >= src.PixelCount() &&
        dst.Planes[p].size() >= src.PixelCount() && dif.Planes[p].size() >= src.PixelCount())
      planes.push_back(p);
  const int64_t w = src.Width, rows = src.Height;
  const int64_t count = rows * int64_t(planes.size());
  const int threads = RectRunThreads(ClipRectToSlot(source, {0, src.Width - 1, 0, src.Height - 1}),
                                     int(planes.size()));
  const std::thread::id caller = std::this_thread::get_id();
  ForEachBand(count, threads, [&](int64_t first, int64_t last) {
    const bool messages = std::this_thread::get_id() == caller;
    for (int64_t k = first; k < last && !stop; ++k) {
      const int32_t p = planes[size_t(k / rows)];
      const int64_t at = (k % rows) * w;
      MixRow(src.Planes[p].data() + at, dif.Planes[p].data() + at, dst.Planes[p].data() + at, w, linear, quadratic);
      if (messages) EngineUi().ProcessMessages();
    }
  });
  return !stop;
}

}  // namespace astrelon
