// Speed of the cached-blur functions of the filter dialog on a 4096 x 4096 grey
// star field, with one thread and with all (up to eight): "Gauss glätten" and
// "Gauss schärfen" once the blur is cached, against a plain pass that reads the
// source and the blur and writes a mix of them; "Gauss schärfen" with its blur
// against libvips' sharpen at the same sigma. Goals on eight threads: within
// 1.5x of the plain pass, ahead of libvips.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include <vips/vips.h>

#include "core/settings.h"
#include "filters/dialog/filter_state.h"
#include "filters/dialog/pixel_filters.h"
#include "kernels/gauss/filter_rows.h"
#include "peer_measure.h"
#include "platform/parallel_bands.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 4096;
constexpr float Radius = 4.47f;  // sigma 3

struct TBenchField {
  TBenchField() {
    bench::MakeFilterField(Side);
    VIPS_INIT("bench_pixel_filters");
    vips_cache_set_max(0);
  }
};

TBenchField& Field() {
  static TBenchField f;
  return f;
}

int Threads(const benchmark::State& state) { return state.range(0) > 1 ? FilterThreads(int64_t(Side) * Side) : 1; }

TFilterCall Call(int nr, float v2, float v3) {
  TFilterCall c;
  c.Funktion = nr;
  c.Source = 1;
  c.Destination = 2;
  c.Rect = {0, Side - 1, 0, Side - 1};
  c.Planes = {false, true, false, false};
  c.Value = {0, Radius, v2, v3};
  return c;
}

// The baseline: (source + blur) / 2 into the result, in row bands.
void PlainMix(int threads) {
  const float* s = Store.Image[1].Planes[1].data();
  const float* b = Store.Image[size_t(FilterBlurSlot)].Planes[1].data();
  float* d = Store.Image[2].Planes[1].data();
  ForEachBand(Side, threads, [&](int64_t y0, int64_t y1) {
    for (int64_t i = y0 * Side; i < y1 * Side; ++i) d[i] = (s[i] + b[i]) * 0.5f;
  });
}

template <class F>
void AfterCache(benchmark::State& state, F&& run) {
  Field();
  const int threads = Threads(state);
  bench::WithThreads(state, threads, [&] {
    TFilterCall first = Call(5, 50, 0);
    GaussSmooth(first);  // the cache
    bench::Measure(state, run, {{"plain", [threads] { PlainMix(threads); }, threads > 1 ? 1.5 : 0.0}});
  });
}

void BM_GaussSmoothAfterCache(benchmark::State& state) {
  AfterCache(state, [] {
    TFilterCall c = Call(5, 50, 0);
    GaussSmooth(c);
  });
}

void BM_GaussSharpenAfterCache(benchmark::State& state) {
  AfterCache(state, [] {
    TFilterCall c = Call(3, 1, 50);
    GaussSharpen(c);
  });
}

void BM_GaussSharpenVsVips(benchmark::State& state) {
  Field();
  const int threads = Threads(state);
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state,
        [] {
          InvalidateFilterBlur();
          TFilterCall c = Call(3, 1, 50);
          GaussSharpen(c);
        },
        {{"vips", [threads] {
            vips_concurrency_set(threads);
            VipsImage* in = vips_image_new_from_memory(Store.Image[1].Planes[1].data(),
                                                       size_t(Side) * Side * sizeof(float), Side, Side, 1,
                                                       VIPS_FORMAT_FLOAT);
            VipsImage* out = nullptr;
            vips_sharpen(in, &out, "sigma", double(Radius / 1.49f), nullptr);
            size_t bytes = 0;
            void* data = vips_image_write_to_memory(out, &bytes);
            g_free(data);
            g_object_unref(out);
            g_object_unref(in);
          },
          threads > 1 ? 1.0 : 0.0}});
  });
}

BENCHMARK(BM_GaussSmoothAfterCache)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_GaussSharpenAfterCache)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_GaussSharpenVsVips)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace
}  // namespace astrelon
