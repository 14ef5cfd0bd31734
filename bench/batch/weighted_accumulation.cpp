// The weighted accumulations of the batch on a 6000 x 4000 colour mosaic,
// one thread and all cores: adding a frame into the colour-mosaic target (two
// point pairs, a small turn), normalising that target, and adding a frame into
// the double-size target. Each against a plain pass over the frame, target and
// weight planes it touches, split into bands of target rows the same way (the
// passes vectorised for the machine). Figure "plain_pass" (goal 3): the
// routine's time over the pass's. Every run starts from the same target; check:
// the target's planes and weights (or the normalised planes) equal those of
// the scalar twin (the vector loops off) run on the same start after the timed
// runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <array>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "batch/accumulate/bayer_special.h"
#include "batch/accumulate/double_size.h"
#include "batch/accumulate/drizzle_normalise.h"
#include "batch/accumulate/frame_alignment.h"
#include "batch/accumulate/weighted_target.h"
#include "core/settings.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon::bench {
namespace {

constexpr int32_t Width = 6000, Height = 4000;
constexpr int FrameSlot = 1;

// A noisy RGGB mosaic of a sky with a gentle gradient.
void MakeFrame() {
  if (SlotInUse(FrameSlot)) return;
  // The processor's vector paths, on as the program starts them.
  DetectCpuFeatures();
  ApplySimdSetting();
  MosaicSettings = TMosaicSettings();
  StoreMosaicPattern();
  TImageSlot& im = Store.Image[FrameSlot];
  im.Width = Width;
  im.Height = Height;
  im.PlaneCount = 1;
  im.AllocatePlanes(1);
  std::mt19937 rng(11);
  std::normal_distribution<float> noise(0, 20);
  const float colour[3] = {900, 1500, 700};
  for (int32_t y = 0; y < Height; ++y)
    for (int32_t x = 0; x < Width; ++x)
      im.At(1, x, y) = colour[MosaicCellColor(MosaicPattern, x, y)] + 0.01f * float(x + y) + noise(rng);
  Store.InUse[FrameSlot] = 1;
  MakeDefaultHeader(FrameSlot);
}

// Two point pairs: a shift of (3.3, -2.7) and a turn of 0.2 degrees.
TFrameAlignment Alignment() {
  TAlignPoints p;
  p.A1x = 1000;
  p.A1y = 1000;
  p.A2x = 5000;
  p.A2y = 3000;
  const double c = std::cos(0.2 * M_PI / 180), s = std::sin(0.2 * M_PI / 180);
  p.B1x = p.A1x + 3.3f;
  p.B1y = p.A1y - 2.7f;
  p.B2x = float(p.B1x + c * 4000 - s * 2000);
  p.B2y = float(p.B1y + s * 4000 + c * 2000);
  p.count = 2;
  return FrameAlignment(p, 2);
}

int Threads(benchmark::State& state) { return int(state.range(0)) == 1 ? 1 : int(std::thread::hardware_concurrency()); }

// A target's planes and weights, kept to put back before every run.
struct TTargetState {
  explicit TTargetState(const TWeightedTarget& t) : Shape(t), Planes(Store.Image[size_t(t.Slot)].Planes) {}
  void Restore(TWeightedTarget& t) const {
    t = Shape;
    Store.Image[size_t(t.Slot)].Planes = Planes;
  }
  TWeightedTarget Shape;
  std::array<TPlane, 4> Planes;
};

// The target's planes and weights.
std::vector<std::vector<float>> TargetValues(const TWeightedTarget& t) {
  std::vector<std::vector<float>> all = bench::SlotPlanes(t.Slot);
  for (const auto& w : t.Weights) all.emplace_back(w.begin(), w.end());
  return all;
}

// The plain pass of the colour-mosaic add: each frame value into the target
// and weight plane of its colour, bands of rows as the routine takes them.
void PlainMosaicPass(TWeightedTarget& t) {
  const TImageSlot& frame = Store.Image[FrameSlot];
  TImageSlot& target = Store.Image[size_t(t.Slot)];
  const float* const v = frame.Planes[1].data();
  const std::array<float*, 3> sums{target.Planes[1].data(), target.Planes[2].data(), target.Planes[3].data()};
  const std::array<float*, 3> weights{t.Weights[0].data(), t.Weights[1].data(), t.Weights[2].data()};
  const TMosaicCells pattern = t.Pattern;
  const int32_t w = t.Width;
  ForEachBand(t.Height, BandThreads(t.Height, 64, Options.Multicore != 0), [=](int64_t r0, int64_t r1) {
    bench::PlainVector([=] {
      for (int64_t y = r0; y < r1; ++y) {
        // The row's two colours, at even and odd columns.
        const size_t even = size_t(MosaicCellColor(pattern, 0, int32_t(y)));
        const size_t odd = size_t(MosaicCellColor(pattern, 1, int32_t(y)));
        const size_t row = size_t(y) * size_t(w);
        float *const s0 = sums[even] + row, *const s1 = sums[odd] + row;
        float *const w0 = weights[even] + row, *const w1 = weights[odd] + row;
        const float* const f = v + row;
        for (int32_t x = 0; x + 1 < w; x += 2) {
          s0[x] += f[x];
          w0[x] += 1.0f;
          s1[x + 1] += f[x + 1];
          w1[x + 1] += 1.0f;
        }
      }
    });
  });
}

void BM_BayerSpecialAdd(benchmark::State& state) {
  MakeFrame();
  WithThreads(state, Threads(state), [&] {
    if (!PrepareBayerSpecialTarget(FrameSlot)) {
      state.SkipWithError("no target");
      return;
    }
    const TFrameAlignment a = Alignment();
    const TTargetState empty(BayerTarget);
    const std::function<void()> add = [&] { BayerSpezialAddieren(FrameSlot, a, false); };
    const std::function<void()> restore = [&] { empty.Restore(BayerTarget); };
    Measure(state, add, {{"plain_pass", [&] { PlainMosaicPass(BayerTarget); }, 3.0}}, restore, [&] {
      ExpectTwin([] { return TargetValues(BayerTarget); }, restore, add, 0, "colour-mosaic target");
    });
    FreeSlot(BayerTarget.Slot);
    BayerTarget.ReleaseWeights();
  });
}
ASTRELON_FIGURES(BM_BayerSpecialAdd, "plain_pass");
BENCHMARK(BM_BayerSpecialAdd)->Arg(1)->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_DrizzleNormieren(benchmark::State& state) {
  MakeFrame();
  WithThreads(state, Threads(state), [&] {
    if (!PrepareBayerSpecialTarget(FrameSlot)) {
      state.SkipWithError("no target");
      return;
    }
    BayerSpezialAddieren(FrameSlot, Alignment(), false);
    const int slot = BayerTarget.Slot;
    // The accumulation as the run leaves it, put back before every timing.
    const std::array<TPlane, 4> sums = Store.Image[size_t(slot)].Planes;
    const auto weights = BayerTarget.Weights;
    const TWeightedTarget shape = BayerTarget;
    auto restore = [&] {
      Store.Image[size_t(slot)].Planes = sums;
      BayerTarget = shape;
      BayerTarget.Weights = weights;
    };
    // The plain pass: every plane's sum over its weight into a new plane.
    auto plain = [&] {
      TImageSlot& im = Store.Image[size_t(slot)];
      const int32_t w = im.Width, h = im.Height;
      for (int p = 1; p <= 3; ++p) {
        const float* s = im.Planes[size_t(p)].data();
        const float* wt = BayerTarget.Weights[size_t(p - 1)].data();
        TPlane out(im.PixelCount());
        float* const o = out.data();
        ForEachBand(h, BandThreads(h, 32, Options.Multicore != 0), [=](int64_t r0, int64_t r1) {
          bench::PlainVector([=] {
            float* const out = o + size_t(r0) * size_t(w);
            const float* const sum = s + size_t(r0) * size_t(w);
            const float* const weight = wt + size_t(r0) * size_t(w);
            const size_t n = size_t(r1 - r0) * size_t(w);
#pragma omp simd
            for (size_t i = 0; i < n; ++i) out[i] = weight[i] > 0 ? sum[i] / weight[i] : sum[i];
          });
        });
        im.Planes[size_t(p)].swap(out);
      }
    };
    const std::function<void()> normalise = [&] { DrizzleNormieren(BayerTarget); };
    Measure(state, normalise, {TPeer("plain_pass", plain, 3.0)}, restore, [&] {
      ExpectTwin([slot] { return SlotPlanes(slot); }, restore, normalise, 0, "normalised target");
    });
    FreeSlot(slot);
    BayerTarget.ReleaseWeights();
  });
}
ASTRELON_FIGURES(BM_DrizzleNormieren, "plain_pass");
BENCHMARK(BM_DrizzleNormieren)->Arg(1)->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_DoubleSizeAdd(benchmark::State& state) {
  MakeFrame();
  WithThreads(state, Threads(state), [&] {
    if (!PrepareDoubleSizeTarget(FrameSlot)) {
      state.SkipWithError("no target");
      return;
    }
    TWeightedTarget& t = SwarpTarget;
    const TFrameAlignment a = Alignment();
    // The plain pass: every target pixel takes the frame pixel at half its
    // position into its sum and weight.
    auto plain = [&] {
      const TImageSlot& frame = Store.Image[FrameSlot];
      float* const sum = Store.Image[size_t(t.Slot)].Planes[1].data();
      float* const weight = t.Weights[0].data();
      const float* const v = frame.Planes[1].data();
      const int32_t w = t.Width;
      ForEachBand(t.Height, BandThreads(t.Height, 32, Options.Multicore != 0), [=](int64_t r0, int64_t r1) {
        bench::PlainVector([=] {
          for (int64_t j = r0; j < r1; ++j) {
            float* const s = sum + size_t(j) * size_t(w);
            float* const wt = weight + size_t(j) * size_t(w);
            const float* const f = v + size_t(j / 2) * size_t(Width);
            for (int32_t k = 0; k < w / 2; ++k) {
              s[2 * k] += f[k];
              s[2 * k + 1] += f[k];
              wt[2 * k] += 1.0f;
              wt[2 * k + 1] += 1.0f;
            }
          }
        });
      });
    };
    const TTargetState empty(t);
    const std::function<void()> add = [&] { AddToDoubleSizeTarget(FrameSlot, a); };
    const std::function<void()> restore = [&] { empty.Restore(t); };
    Measure(state, add, {TPeer("plain_pass", plain, 3.0)}, restore,
            [&] { ExpectTwin([&] { return TargetValues(t); }, restore, add, 0, "double-size target"); });
    FreeSlot(t.Slot);
    t.ReleaseWeights();
  });
}
ASTRELON_FIGURES(BM_DoubleSizeAdd, "plain_pass");
BENCHMARK(BM_DoubleSizeAdd)->Arg(1)->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace astrelon::bench
