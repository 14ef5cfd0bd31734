#include "pixelops/mosaic/mosaic_astro.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "kernels/mosaic/mosaic_kernels.h"
#include "kernels/mosaic/site_lanes.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

// The vector helpers are always inlined. The AVX code gives them vectors only
// by reference and takes none back by value: clang checks the convention of a
// call before it inlines it and refuses a 32-byte vector passed to or from a
// helper without the AVX target.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

// Green at the sites of `row` from x on, LaneCount<V> of them at a time while
// the last is at most `last` (rows W values apart); the first column not done.
// The lanes keep the smallest green they wrote.
template <class V>
[[gnu::always_inline]] inline int32_t AstroGreenSites(float* row, ptrdiff_t W, int32_t x, int32_t last, float eps,
                                                      V& smallest) {
  using simd::AbsLanes;
  using simd::Every2;
  using simd::Every2Alone;
  constexpr int32_t L = simd::LaneCount<V>;
  for (; x + 2 * (L - 1) <= last; x += 2 * L) {
    const float* at = row + x;
    const V a = Every2<V>(at - 1), b = Every2<V>(at + 1), c = Every2<V>(at - 3), d = Every2<V>(at + 3);
    // Other workers write the red and blue sites of the rows above and below.
    const V e = Every2Alone<V>(at - W), f = Every2Alone<V>(at + W);
    const V gg = Every2Alone<V>(at - 3 * W), hh = Every2Alone<V>(at + 3 * W);
    const V mh = (a + b + c + d) / 4, mv = (e + f + gg + hh) / 4;
    const V wh = 1.0f / (AbsLanes(a - mh) + AbsLanes(b - mh) + AbsLanes(c - mh) + AbsLanes(d - mh) + eps);
    const V wv = 1.0f / (AbsLanes(e - mv) + AbsLanes(f - mv) + AbsLanes(gg - mv) + AbsLanes(hh - mv) + eps);
    const V v = (0.2734375f * (wh * (a + b) + wv * (e + f)) - 0.0234375f * (wh * (c + d) + wv * (gg + hh))) /
                ((wh + wv) / 2);
    simd::StoreEvery2(row + x, v);
    smallest = v < smallest ? v : smallest;
  }
  return x;
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 int32_t AstroGreenSitesAvx2(float* row, ptrdiff_t W, int32_t x, int32_t last, float eps,
                                          float& smallest) {
  simd::TVec8f lanes = simd::TVec8f{} + smallest;  // simd::Splat, which would return it
  x = AstroGreenSites(row, W, x, last, eps, lanes);
  for (int l = 0; l < 8; ++l) smallest = lanes[l] < smallest ? lanes[l] : smallest;
  return x;
}
#endif

// Stage 1 on the rows the worker takes; the block keeps the smallest green it wrote.
void AstroGreenRows(TMosaicWorkerBlock& blk, TRowDealer& rows) {
  const TMosaicStage& job = *blk.Job;
  TImageSlot& dst = Store.Image[size_t(job.Destination)];
  const int32_t w = dst.Width, h = dst.Height;
  float* g = dst.Planes[2].data();
  const ptrdiff_t W = w;
  const float eps = float(3 * job.Noise);
  float smallest = blk.Minimum;
  rows.Take([&](int32_t y) {
    float* row = g + ptrdiff_t(y) * W;
    int32_t x = MosaicCellColor(MosaicPattern, 1, y) == McGreen ? 4 : 3;
#if ASTRELON_HAVE_AVX2
    // The lanes read three values past their last site and one more.
    if (UseAvx2(true)) x = AstroGreenSitesAvx2(row, W, x, w - 5, eps, smallest);
#endif
    x = AstroGreenSites(row, W, x, w - 4, eps, smallest);
  });
  blk.Minimum = smallest;
}

}  // namespace

TMosaicWorkerMethod AstroMosaicMethod(const TMosaicStage& job) {
  auto offset = std::make_shared<float>(0.0f);
  // Stage 1 rows 3 .. height - 4, stage 2 rows 2 .. height - 3.
  struct TRows {
    explicit TRows(int32_t h) : Green(3, h - 4), Fill(2, h - 3) {}
    TRowDealer Green, Fill;
  };
  auto rows = std::make_shared<TRows>(Store.Image[size_t(job.Destination)].Height);
  TMosaicWorkerMethod method;
  method.Stages = 2;
  method.Stage = [offset, rows](TMosaicWorkerBlock& blk, int32_t stage) {
    const TMosaicStage& job = *blk.Job;
    if (stage == 1) {
      blk.Minimum = Store.Image[size_t(job.Source)].MinValue;
      AstroGreenRows(blk, rows->Green);
    } else {
      TColourFillRow fill;
      if (ColourFillRowOf(job.Source, job.Destination, float(3 * job.Noise), *offset, true, fill))
        rows->Fill.Take([&](int32_t y) { FillRedBlueRow(fill, MosaicPattern, y); });
    }
  };
  const double noise = job.Noise;
  method.Between = [offset, noise](int32_t, std::span<TMosaicWorkerBlock> blocks) {
    float smallest = blocks.front().Minimum;
    for (const TMosaicWorkerBlock& b : blocks) smallest = std::min(smallest, b.Minimum);
    *offset = float(double(smallest) - 18 * noise);
  };
  return method;
}

}  // namespace astrelon
