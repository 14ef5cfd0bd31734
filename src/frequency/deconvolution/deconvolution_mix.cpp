#include "frequency/deconvolution/deconvolution_mix.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "common/engine_ui.h"
#include "kernels/regions/rect_runs.h"
#include "platform/processor_features.h"
#include "platform/vector_lanes.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

bool SameSize(int a, int b) {
  const TImageSlot &x = Store.Image[a], &y = Store.Image[b];
  return x.Width == y.Width && x.Height == y.Height;
}

// v + d·(linear + quadratic·|d|) where v and d are valid, else the old value;
// one body for a vector of four and its scalar twin, the same float
// operations in the same order, so both give the same bits.
template <class V>
[[gnu::always_inline]] inline V MixLanes(V v, V d, V old, V linear, V quadratic) {
  const V blank = simd::Splat<V>(BlankLimit);
  const V magnitude = d < 0 ? -d : d;
  const V mixed = v + d * (linear + quadratic * magnitude);
  return (v > blank) & (d > blank) ? mixed : old;
}

void MixRow(const float* v, const float* d, float* out, int64_t n, float linear, float quadratic, bool vector) {
  int64_t x = 0;
  if (vector) {
    using V = simd::TVec4f;
    const V l = simd::Splat<V>(linear), q = simd::Splat<V>(quadratic);
    for (; x + 4 <= n; x += 4)
      simd::StoreLanes(out + x, MixLanes(simd::LoadLanes<V>(v + x), simd::LoadLanes<V>(d + x),
                                         simd::LoadLanes<V>(out + x), l, q));
  }
  for (; x < n; ++x) out[x] = MixLanes(v[x], d[x], out[x], linear, quadratic);
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
  const float linear = float(1.0 - s), quadratic = float(s / R);
  const bool vector = Sse2Enabled;

  std::vector<int32_t> planes;
  const TPlaneList selected = SelectedChannels(source);
  for (const int32_t p : selected.Planes())
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
      MixRow(src.Planes[p].data() + at, dif.Planes[p].data() + at, dst.Planes[p].data() + at, w, linear, quadratic,
             vector);
      if (messages) EngineUi().ProcessMessages();
    }
  });
  return !stop;
}

}  // namespace astrelon
