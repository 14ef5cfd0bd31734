// Rendering speed against a plain loop on as many threads of the baseline pool
// (vectorised for the machine) that turns the same floats into clamped bytes:
// at 100 % every value, at 25 % the values the picture samples (one in four
// along rows and columns). Each iteration times both, so the ratio holds on a
// shared, noisy machine (figure "plain"; no library renders with the display's
// curve). The argument is the number of threads the renderer may use (1:
// "Multicores" off); "workers" is the number it can get here. Goal 2 for every
// size and thread count (the display curve and the colour table on top of the
// plain conversion). Check: the picture (its bytes and colour table) equals
// that of the scalar twin (the vector loops off) rendered after the timed runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <random>
#include <vector>

#include "band_pool.h"
#include "core/settings.h"
#include "peer_measure.h"
#include "plain_loops.h"
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
// value (interleaved blue, green, red for colour), for every Step-th value of
// every Step-th row from `offset` on, on `threads` pool threads.
template <int Planes, int Step>
void PlainConversion(const TImageSlot& im, std::vector<uint8_t>& out, int offset, int threads) {
  const int64_t w = im.Width, rows = (im.Height - offset + Step - 1) / Step, cols = (w - offset + Step - 1) / Step;
  out.resize(size_t(rows * cols * Planes));
  uint8_t* const o = out.data();
  std::array<const float*, 3> source{};
  for (int p = 0; p < Planes; ++p) source[size_t(p)] = im.Planes[size_t(p + 1)].data();
  bench::PlainBands(rows, threads, [=](int64_t r0, int64_t r1) {
    // Locals: the byte stores could otherwise change what the lambda captured.
    const float black = 100.0f, scale = 255.0f / 900.0f;
    const int64_t n = cols, stride = w, start = offset;
    const std::array<const float*, 3> planes = source;
    for (int64_t r = r0; r < r1; ++r) {
      const int64_t y = start + r * Step;
      uint8_t* const d = o + r * n * Planes;
      for (int p = 0; p < Planes; ++p) {
        const float* const row = planes[size_t(p)] + y * stride + start;
        uint8_t* const at = d + (Planes == 1 ? 0 : 2 - p);
        for (int64_t c = 0; c < n; ++c) {
          const int q = int((row[c * Step] - black) * scale + 0.5f);
          at[c * Planes] = uint8_t(q < 0 ? 0 : q > 255 ? 255 : q);
        }
      }
    }
  });
}

void PlainConversion(const TImageSlot& im, std::vector<uint8_t>& out, int step, int offset, int threads) {
  if (im.PlaneCount == 1)
    step == 1 ? PlainConversion<1, 1>(im, out, offset, threads) : PlainConversion<1, 4>(im, out, offset, threads);
  else
    step == 1 ? PlainConversion<3, 1>(im, out, offset, threads) : PlainConversion<3, 4>(im, out, offset, threads);
}

// The picture's bytes (each row's pixels, not its padding) and colour table.
// The picture's values (bytes of every row, then the colour table) as parts to compare.
std::vector<std::vector<float>> PictureValues(const TDisplayBitmap& b) {
  std::vector<float> bytes;
  for (int y = 0; y < b.Height; ++y) {
    const auto row = b.Row(y).first(size_t(b.Width) * size_t(b.BytesPerPixel()));
    bytes.insert(bytes.end(), row.begin(), row.end());
  }
  return {bytes, std::vector<float>(b.ColourTable.begin(), b.ColourTable.end())};
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
  const std::function<void()> render = [&] {
    RenderSlotBitmap(slot, percent, bitmap);
    benchmark::DoNotOptimize(bitmap.Pixels.data());
  };
  bench::WithThreads(state, workers, [&] {
    bench::Measure(
        state, render,
        {{"plain",
          [&] {
            PlainConversion(Store.Image[slot], plain, step, offset, workers);
            benchmark::DoNotOptimize(plain.data());
          },
          2.0}},
        {}, [&] { bench::ExpectTwin([&] { return PictureValues(bitmap); }, {}, render, 0, "picture"); });
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
