// Speed of the pixel loops of the image multiplication and the L+RGB
// combination on 6000 x 4000 images, on one thread (argument 0) and on all cores
// up to eight (argument 1). Each benchmark times its routine and a plain loop
// over the same memory in the same iterations, on as many threads of the
// baseline pool (figure "plain"; no library does the same); before timing, the
// routine's result on one thread and on all cores is compared; a difference
// ends the benchmark with an error.
//  - MultiplyByImage (the loop, without the mean): baseline a plain loop that
//    reads two planes and writes one. Goal 1.5. With the mean of the second
//    image (one more read of a plane) goal 2.
//  - LrgbRun (auto-scaled): baseline a plain loop that reads four planes and
//    writes three. Goal 2.
// The plain loops are vectorised for the machine. After timing, the L+RGB
// result equals that of its scalar twin (the vector loops off) on the same
// planes; the multiplication's, which has no vector path, has the fingerprint
// of a checked run (the same on both thread counts).
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "band_pool.h"
#include "core/settings.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "pixelops/colour/lrgb_combination.h"
#include "pixelops/pixels/multiply_by_image.h"
#include "platform/parallel_bands.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;
constexpr size_t Pixels = size_t(Width) * Height;

// Sky background 1000 with noise of 10 and a gentle slope across the rows.
void FillSky(TPlane& p, std::mt19937& rng) {
  std::normal_distribution<float> noise(1000.0f, 10.0f);
  p.resize(Pixels);
  for (size_t i = 0; i < Pixels; ++i) p[i] = noise(rng) + float(i % Width) * 0.01f;
}

struct TBenchImages {
  TBenchImages() {
    std::mt19937 rng(23);
    for (auto* p : {&a, &b, &l, &lum, &c[0], &c[1], &c[2]}) FillSky(*p, rng);
    // One blank pixel in 500, as in an aligned frame.
    for (size_t i = 0; i < Pixels; i += 500) b[i] = BlankPixel;
    out.resize(Pixels);
    work = c;
  }
  void ResetSlots() {
    for (int s : {1, 2}) {
      TImageSlot& im = Store.Image[size_t(s)];
      im.Width = Width;
      im.Height = Height;
      im.PlaneCount = 1;
      im.IsColor = 0;
      Store.InUse[size_t(s)] = 1;
    }
    Store.Image[1].Planes[1] = a;
    if (Store.Image[2].Planes[1].size() != Pixels) Store.Image[2].Planes[1] = b;
  }
  TPlane a, b, l, lum, out;
  std::array<TPlane, 3> c, work;
};

TBenchImages& Images() {
  static TBenchImages images;
  return images;
}

// fn(first, last) over pixel bands on as many pool threads as the routines get.
template <typename F>
void PlainBands(F&& fn) {
  bench::PlainBands(int64_t(Height), BandThreads(int64_t(Pixels), int64_t(1) << 18, Options.Multicore != 0),
                    [&](int64_t first, int64_t last) { fn(size_t(first) * Width, size_t(last) * Width); });
}

void PlainMultiply() {
  TBenchImages& im = Images();
  const float* const a = im.a.data();
  const float* const b = im.b.data();
  float* const out = im.out.data();
  PlainBands([=](size_t first, size_t last) {
    for (size_t i = first; i < last; ++i) out[i] = a[i] * b[i];
  });
}

void PlainFourToThree() {
  TBenchImages& im = Images();
  const float* const l = im.l.data();
  const float* const lum = im.lum.data();
  float* const c1 = im.work[0].data();
  float* const c2 = im.work[1].data();
  float* const c3 = im.work[2].data();
  PlainBands([=](size_t first, size_t last) {
#pragma omp simd
    for (size_t i = first; i < last; ++i) {
      const float x = c1[i], y = c2[i];
      c1[i] = x * l[i];
      c2[i] = y * lum[i];
      c3[i] = x + y;
    }
  });
}

TLrgbParams Params() {
  TLrgbParams p;
  p.AutoScaled = true;
  p.Threshold = 30;
  p.LowL = 20;
  p.FloorL = 5;
  p.Noise2 = 12;
  p.K = 1.3;
  return p;
}

void Lrgb() {
  TBenchImages& im = Images();
  LrgbRun(im.l, im.lum, {std::span<float>(im.work[0]), std::span<float>(im.work[1]), std::span<float>(im.work[2])},
          Params());
}

void ResetWork() { Images().work = Images().c; }

// The routine's output on one thread and on all cores must agree.
bool SameOnAllThreadCounts(const std::function<void()>& reset, const std::function<void()>& routine,
                           const std::function<std::vector<float>()>& output) {
  std::array<std::vector<float>, 2> result;
  for (int multi = 0; multi <= 1; ++multi) {
    Options.Multicore = uint8_t(multi);
    reset();
    routine();
    result[size_t(multi)] = output();
  }
  return result[0].size() == result[1].size() &&
         std::memcmp(result[0].data(), result[1].data(), result[0].size() * sizeof(float)) == 0;
}

// `check` judges the routine's output after the timed runs.
void Run(benchmark::State& state, const std::function<void()>& reset, const std::function<void()>& routine,
         const std::function<void()>& baseline, const std::function<std::vector<float>()>& output, double goal,
         const std::function<void()>& check) {
  if (!SameOnAllThreadCounts(reset, routine, output)) {
    state.SkipWithError("results differ between one thread and all cores");
    return;
  }
  Options.Multicore = uint8_t(state.range(0));
  reset();
  bench::WithThreads(state, BandThreads(int64_t(Pixels), int64_t(1) << 18, Options.Multicore != 0), [&] {
    bench::Measure(state, routine, {{"plain", baseline, goal}}, reset, check);
  });
}

std::vector<float> MultiplyOutput() {
  const TPlane& p = Store.Image[1].Planes[1];
  return {p.begin(), p.end()};
}

// The multiplication has no vector path: its output against the fingerprint of a checked run.
std::function<void()> MultipliedAs(const bench::TFingerprint& want) {
  return [want] { bench::ExpectFingerprint(bench::Fingerprint({MultiplyOutput()}), want, "combined planes"); };
}

void BM_MultiplyLoop(benchmark::State& state) {
  Run(
      state, [] { Images().ResetSlots(); }, [] { MultiplyByImage(1, 2, false); }, PlainMultiply, MultiplyOutput, 1.5,
      MultipliedAs(
          {24000000, 0, 967.2300415, 1191541.125, 1059080.633, 61039.547, -0.4342904953, 1.126652428, 20608.62978}));
}

void BM_MultiplyWithMean(benchmark::State& state) {
  Run(
      state, [] { Images().ResetSlots(); }, [] { MultiplyByImage(1, 2, true); }, PlainMultiply, MultiplyOutput, 2.0,
      MultipliedAs(
          {24000000, 0, 910.581543, 1156.83728, 1030.28771, 37.39118973, -0.0004425666333, 0.00122115213, 15.98128088}));
}

std::vector<std::vector<float>> LrgbPlanes() {
  std::vector<std::vector<float>> planes;
  for (const TPlane& p : Images().work) planes.emplace_back(p.begin(), p.end());
  return planes;
}

// The L+RGB loop against its scalar twin on the same planes.
void BM_LrgbLoop(benchmark::State& state) {
  Run(
      state, ResetWork, Lrgb, PlainFourToThree,
      [] {
        std::vector<float> all;
        for (const std::vector<float>& p : LrgbPlanes()) all.insert(all.end(), p.begin(), p.end());
        return all;
      },
      2.0, [] { bench::ExpectTwin(LrgbPlanes, ResetWork, Lrgb, 0, "combined planes"); });
}

#define COMBINATION_BENCH(fn)    \
  ASTRELON_FIGURES(fn, "plain"); \
  BENCHMARK(fn)->Arg(0)->Arg(1)->ArgName("multicore")->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0)
COMBINATION_BENCH(BM_MultiplyLoop);
COMBINATION_BENCH(BM_MultiplyWithMean);
COMBINATION_BENCH(BM_LrgbLoop);

}  // namespace
}  // namespace astrelon
