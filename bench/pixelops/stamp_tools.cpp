// Speed of the copy stamp: a stroke of 2,000 points at radius 50 on a 4096 x 4096
// grey image, applied from another image, on one thread. The baseline is a plain
// loop over the same stamp positions and every offset of the disc once, blending
// each source pixel into the target with its weight ("paste"), on one thread
// (figure "plain", goal 2.5; no library stamps along a stroke; the loop
// vectorised for the machine; the stamp itself blends otherwise, so the loop is
// no reference). Check: the stamp reports success and its target has the
// fingerprint of a checked run.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "peer_measure.h"
#include "plain_loops.h"
#include "shell/stamps/copy_stamp.h"
#include "shell/stamps/stamp_size.h"
#include "shell/undo/undo_store.h"
#include "shell/windows/image_window_state.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 4096;
constexpr int Target = 1, Source = 2;
constexpr int StrokePoints = 2000;

struct TBench {
  TBench() {
    std::mt19937 rng(5);
    for (TPlane* p : {&target, &source}) {
      p->resize(size_t(Side) * Side);
      bench::FillStarField(*p, Side, rng, 3000);
    }
    for (int slot : {Target, Source}) {
      TImageSlot& im = Store.Image[slot];
      im.Width = im.Height = Side;
      im.PlaneCount = 1;
      im.IsColor = 0;
      Store.InUse[slot] = 1;
    }
    Store.Image[Source].Planes[1] = source;
    // A wandering stroke of steps up to 4 pixels from the middle.
    TPointI p{Side / 2, Side / 2};
    for (int k = 0; k < StrokePoints; ++k) {
      stroke.push_back(p);
      p.X = std::clamp(p.X + int(rng() % 9) - 4, 0, Side - 1);
      p.Y = std::clamp(p.Y + int(rng() % 9) - 4, 0, Side - 1);
    }
  }
  TPlane target, source;
  std::vector<TPointI> stroke;
};

TBench& Bench() {
  static TBench b;
  return b;
}

void BM_ApplyCopyStamp(benchmark::State& state) {
  TBench& b = Bench();
  const int32_t r2 = StampRadiusSquaredOf(99);
  const int32_t r = StampRadius(r2);
  CopySourceSlot = Source;
  CopySourcePoint = {b.stroke[0].X - 300, b.stroke[0].Y - 200};
  const int ox = 300, oy = 200;
  const auto positions = StampPositions(b.stroke);
  TImageSlot& im = Store.Image[Target];
  const TPlane& src = Store.Image[Source].Planes[1];
  // The paste of every stamp position into `target`.
  auto paste = [&](float* target) {
    const float* const s = src.data();
    bench::PlainVector([&] {
      for (const TPointI& c : positions)
        for (int dy = -r; dy <= r; ++dy) {
          const int y = c.Y + dy, sy = y - oy;
          if (y < 0 || y >= Side || sy < 0 || sy >= Side) continue;
          float* const row = target + size_t(y) * Side;
          const float* const from = s + size_t(sy) * Side;
          const int cx = c.X, radius = r, squared = r2;
#pragma omp simd
          for (int dx = -radius; dx <= radius; ++dx) {
            const int d2 = dx * dx + dy * dy;
            const int x = cx + dx, sx = x - ox;
            if (d2 >= squared || x < 0 || x >= Side || sx < 0 || sx >= Side) continue;
            const float q = float(d2) / float(squared), w = 1.0f - q * q;
            row[x] = (from[sx] - row[x]) * w + row[x];
          }
        }
    });
  };
  auto baseline = [&] { paste(im.Planes[1].data()); };
  auto prepare = [&] {
    im.Planes[1] = b.target;
    ClearUndoStore();
    StampPath = b.stroke;
  };
  bench::Measure(
      state, [&] { bench::Expect(ApplyCopyStamp(Target, TStampMode::Paste, false, r2), "nothing stamped"); },
      {{"plain", baseline, 2.5}}, prepare,
      [&] {
        bench::ExpectFingerprint(bench::Fingerprint({im.Planes[1]}),
                                 {16777216, 0, 947.1233521, 68679.5625, 1056.037595, 968.1235283, 0.009981701701,
                                  0.02413837052, 42.69317683},
                                 "stamped target");
      });
}

ASTRELON_FIGURES(BM_ApplyCopyStamp, "plain");
BENCHMARK(BM_ApplyCopyStamp)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
}  // namespace astrelon
