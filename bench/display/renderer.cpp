// Rendering speed against a plain loop on as many threads of the baseline pool
// that turns the same floats into clamped bytes: at 100 % every value, at 25 %
// the values the picture samples (one in four along rows and columns). Each
// iteration times both, so the ratio holds on a shared, noisy machine (figure
// "plain"; no library renders with the display's curve). The argument is the
// number of threads the renderer may use (1: "Multicores" off); "workers" is
// the number it can get here. Goal 2 for every size and thread count (the
// display curve and the colour table on top of the plain conversion).
#include <benchmark/benchmark.h>

#include <emmintrin.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "band_pool.h"
#include "core/settings.h"
#include "peer_measure.h"
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

// Every `step`-th value of every `step`-th row from `offset` on, on `threads` pool threads.
void PlainConversion(const TImageSlot& im, std::vector<uint8_t>& out, int step, int offset, int threads) {
  const __m128 black = _mm_set1_ps(100.0f), scale = _mm_set1_ps(255.0f / 900.0f);
  const int64_t w = im.Width, rows = (im.Height - offset + step - 1) / step, cols = (w - offset + step - 1) / step;
  const int planes = im.PlaneCount;
  out.resize(size_t(rows * cols * planes));
  uint8_t* o = out.data();
  bench::PoolBands(rows, threads, [&](int64_t r0, int64_t r1) {
    alignas(16) uint8_t bytes[3][16];
    alignas(16) float gathered[16];
    for (int64_t r = r0; r < r1; ++r) {
      const int64_t y = offset + r * step;
      uint8_t* d = o + r * cols * planes;
      for (int64_t c = 0; c + 16 <= cols; c += 16) {
        for (int p = 0; p < planes; ++p) {
          const float* row = im.Planes[size_t(p + 1)].data() + y * w + offset + c * step;
          const float* src = row;
          if (step > 1) {
            for (int k = 0; k < 16; ++k) gathered[k] = row[k * step];
            src = gathered;
          }
          _mm_store_si128(reinterpret_cast<__m128i*>(bytes[p]), SixteenBytes(src, black, scale));
        }
        if (planes == 1) {
          std::copy_n(bytes[0], 16, d + c);
        } else {
          for (int k = 0; k < 16; ++k) {
            d[3 * (c + k)] = bytes[2][k];
            d[3 * (c + k) + 1] = bytes[1][k];
            d[3 * (c + k) + 2] = bytes[0][k];
          }
        }
      }
    }
  });
}

void RenderAgainstBaseline(benchmark::State& state, bool colour, int percent) {
  const int slot = colour ? 2 : 1;
  const int threads = int(state.range(0));
  MakeSlot(slot, colour);
  SseEnabled = Sse2Enabled = true;
  const int workers = BandThreads(int64_t(Side) * Side, 1, threads > 1);
  const int step = percent == 25 ? 4 : 1, offset = percent == 25 ? 2 : 0;
  TDisplayBitmap bitmap;
  std::vector<uint8_t> plain;
  bench::WithThreads(state, workers, [&] {
    bench::Measure(
        state,
        [&] {
          RenderSlotBitmap(slot, percent, bitmap);
          benchmark::DoNotOptimize(bitmap.Pixels.data());
        },
        {{"plain",
          [&] {
            PlainConversion(Store.Image[slot], plain, step, offset, workers);
            benchmark::DoNotOptimize(plain.data());
          },
          2.0}});
  });
  state.counters["workers"] = workers;
}

void BM_RenderGrey100(benchmark::State& s) { RenderAgainstBaseline(s, false, 100); }
void BM_RenderGrey25(benchmark::State& s) { RenderAgainstBaseline(s, false, 25); }
void BM_RenderRgb100(benchmark::State& s) { RenderAgainstBaseline(s, true, 100); }
void BM_RenderRgb25(benchmark::State& s) { RenderAgainstBaseline(s, true, 25); }

#define RENDER_BENCH(fn)           \
  ASTRELON_FIGURES(fn, "plain"); \
  BENCHMARK(fn)->ArgName("threads")->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0)
RENDER_BENCH(BM_RenderGrey100);
RENDER_BENCH(BM_RenderGrey25);
RENDER_BENCH(BM_RenderRgb100);
RENDER_BENCH(BM_RenderRgb25);

}  // namespace
