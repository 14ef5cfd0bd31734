// Rendering speed against a plain single-threaded loop that turns the same
// floats into clamped bytes. Each iteration times both, so the ratio holds on a
// shared, noisy machine. The argument is the number of threads the renderer may
// use (1: "Multicores" off); "workers" is the number it can get here.
// Goals at 100 %: 2 x the plain loop on one thread, 0.5 x on eight.
#include <benchmark/benchmark.h>

#include <emmintrin.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "shell/display/renderer.h"
#include "store/display/display_bitmap.h"
#include "store/image_store.h"

namespace {

using namespace astrelon;

constexpr int Side = 4096;

void MakeSlot(int slot, bool colour) {
  if (Store.InUse[slot]) return;
  TImageSlot& im = Store.Image[slot];
  im.Width = im.Height = Side;
  im.IsColor = colour ? 1 : 0;
  im.PlaneCount = colour ? 3 : 1;
  im.ColorModel = CmRgb;
  im.AllocatePlanes(im.PlaneCount);
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> u(0.0f, 1200.0f);
  for (int p = 1; p <= im.PlaneCount; ++p)
    for (float& v : im.Planes[size_t(p)]) v = u(rng);
  Store.InUse[slot] = 1;
  UpdateMinMax(slot);
  TDisplayRecord& d = Store.Display[slot];
  d.Black = 100;
  d.White = 1000;
  d.RangeLow = 0;
  d.RangeHigh = 1200;
  d.Gamma = 2.2f;
  d.CurveMode = 1;
  d.DisplayType = colour ? DtColorRgb : DtGrey;
}

// The baseline: (v - black) * scale clamped to 0..255 and rounded, one byte per
// value (interleaved blue, green, red for colour), sixteen values per step with
// SSE2: about as fast as reading the floats allows.
inline __m128i SixteenBytes(const float* p, __m128 black, __m128 scale) {
  const __m128 zero = _mm_setzero_ps(), top = _mm_set1_ps(255.0f);
  __m128i q[4];
  for (int k = 0; k < 4; ++k)
    q[k] = _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(p + 4 * k), black), scale), zero), top));
  return _mm_packus_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3]));
}

void PlainConversion(const TImageSlot& im, std::vector<uint8_t>& out) {
  const __m128 black = _mm_set1_ps(100.0f), scale = _mm_set1_ps(255.0f / 900.0f);
  const size_t n = im.PixelCount();  // a multiple of 16
  if (im.PlaneCount == 1) {
    out.resize(n);
    const float* p = im.Planes[1].data();
    uint8_t* o = out.data();
    for (size_t i = 0; i < n; i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i), SixteenBytes(p + i, black, scale));
  } else {
    out.resize(3 * n);
    const float *r = im.Planes[1].data(), *g = im.Planes[2].data(), *b = im.Planes[3].data();
    uint8_t* o = out.data();
    alignas(16) uint8_t rb[16], gb[16], bb[16];
    for (size_t i = 0; i < n; i += 16) {
      _mm_store_si128(reinterpret_cast<__m128i*>(rb), SixteenBytes(r + i, black, scale));
      _mm_store_si128(reinterpret_cast<__m128i*>(gb), SixteenBytes(g + i, black, scale));
      _mm_store_si128(reinterpret_cast<__m128i*>(bb), SixteenBytes(b + i, black, scale));
      uint8_t* d = o + 3 * i;
      for (int k = 0; k < 16; ++k) {
        d[3 * k] = bb[k];
        d[3 * k + 1] = gb[k];
        d[3 * k + 2] = rb[k];
      }
    }
  }
}

void RenderAgainstBaseline(benchmark::State& state, bool colour, int percent) {
  const int slot = colour ? 2 : 1;
  const int threads = int(state.range(0));
  MakeSlot(slot, colour);
  SseEnabled = Sse2Enabled = true;
  Options.Multicore = threads > 1 ? 1 : 0;
  TDisplayBitmap bitmap;
  std::vector<uint8_t> plain;
  double renderSeconds = 0, plainSeconds = 0;
  using Clock = std::chrono::steady_clock;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    RenderSlotBitmap(slot, percent, bitmap);
    const auto t1 = Clock::now();
    PlainConversion(Store.Image[slot], plain);
    const auto t2 = Clock::now();
    benchmark::DoNotOptimize(bitmap.Pixels.data());
    benchmark::DoNotOptimize(plain.data());
    const double r = std::chrono::duration<double>(t1 - t0).count();
    renderSeconds += r;
    plainSeconds += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(r);
  }
  state.counters["ratio"] = renderSeconds / plainSeconds;
  state.counters["workers"] = BandThreads(int64_t(Side) * Side, 1, threads > 1);
  if (percent == 100) state.counters["ratio_goal"] = threads > 1 ? 0.5 : 2.0;
}

void BM_RenderGrey100(benchmark::State& s) { RenderAgainstBaseline(s, false, 100); }
void BM_RenderGrey25(benchmark::State& s) { RenderAgainstBaseline(s, false, 25); }
void BM_RenderRgb100(benchmark::State& s) { RenderAgainstBaseline(s, true, 100); }
void BM_RenderRgb25(benchmark::State& s) { RenderAgainstBaseline(s, true, 25); }

// Ratios at 25 % are against the plain loop over the whole image, too.
BENCHMARK(BM_RenderGrey100)->ArgName("threads")->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_RenderGrey25)->ArgName("threads")->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_RenderRgb100)->ArgName("threads")->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_RenderRgb25)->ArgName("threads")->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
