// Speed of the colour conversions on a 6000 x 4000 RGB image on all cores, each
// against a plain loop over the same planes on as many threads of the baseline
// pool (measured in the same iterations; figure "plain"): three planes read and
// written for the in-place conversions and the camera profile, three read and
// one written for the grey conversions. No library converts planar float RGB.
// Goals: the pixel passes alone 1.5 (they also measure each block); the
// display histogram alone 2.0 (a bin and an increment per value of the three
// planes, about twice the plain pass's time per value); the whole in-place
// conversions 3.0 (pass, value range and histogram); the grey conversions 1.5.
// Checks: YUV back to RGB gives the image converted to YUV back within 0.1;
// every result (planes, grey plane, histogram counts) equals that of the
// scalar twin (the vector loops off) on the same image after the timed runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "band_pool.h"
#include "core/settings.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "kernels/colour/color_to_mono.h"
#include "pixelops/colour/camera_profile.h"
#include "pixelops/colour/xyz_to_rgb.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/planes/pixel_blocks.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;
constexpr int Source = 1, Grey = 2;

// A smooth colour gradient with noise and a few blank pixels, kept as a pristine
// copy from which every run starts.
struct TBenchImage {
  TBenchImage() {
    Store.Reset();
    TImageSlot& im = Store.Image[Source];
    im.Width = Width;
    im.Height = Height;
    im.IsColor = 1;
    im.PlaneCount = 3;
    im.AllocatePlanes(3);
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 20.0f);
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x) {
        const size_t i = size_t(y) * Width + size_t(x);
        im.Planes[1][i] = 1000.0f + 5.0f * float(x % 4000) + noise(rng);
        im.Planes[2][i] = 2000.0f + 4.0f * float(y) + noise(rng);
        im.Planes[3][i] = 800.0f + 2.0f * float((x + y) % 5000) + noise(rng);
      }
    for (size_t i = 17; i < im.PixelCount(); i += 100003) im.Planes[2][i] = BlankPixel;
    Store.InUse[Source] = 1;
    MakeDefaultHeader(Source);
    AppendHeaderCard(Source, QuotedCard("INSTRUME= ", "Canon EOS 5D Mark II"));
    ResetDisplayRange(Source, 0);
    for (int p = 1; p <= 3; ++p) pristine[size_t(p)].assign(im.Planes[size_t(p)].begin(), im.Planes[size_t(p)].end());
    header = Store.Header[Source];
  }
  void Restore() {
    TImageSlot& im = Store.Image[Source];
    for (int p = 1; p <= 3; ++p) std::copy(pristine[size_t(p)].begin(), pristine[size_t(p)].end(), im.Planes[size_t(p)].begin());
    im.ColorModel = CmRgb;
    Store.Header[Source] = header;
    UpdateMinMax(Source);
    Store.FileName[Grey].clear();
    FreeSlot(Grey);
  }
  std::array<std::vector<float>, 4> pristine;
  THeaderCardList header;
};

TBenchImage& Bench() {
  static TBenchImage image;
  return image;
}

// The baselines: a fixed 3 x 3 mix of the three planes in place, or a weighted sum
// into a new plane, on the worker bands the routines use.
void PlainMix(bool intoGrey) {
  TImageSlot& im = Store.Image[Source];
  float* r = im.Planes[1].data();
  float* g = im.Planes[2].data();
  float* b = im.Planes[3].data();
  // A grey result is a new plane, as the routines' result is.
  TPlane grey;
  if (intoGrey) grey.resize(im.PixelCount());
  float* out = grey.data();
  const int64_t n = int64_t(im.PixelCount());
  bench::PlainBands(n, BandThreads(n, 1 << 16, Options.Multicore != 0), [=](int64_t first, int64_t last) {
#pragma omp simd
    for (int64_t i = first; i < last; ++i) {
      const float x = r[i], y = g[i], z = b[i];
      if (intoGrey) {
        out[i] = 0.299f * x + 0.587f * y + 0.114f * z;
      } else {
        r[i] = 0.9f * x + 0.1f * y;
        g[i] = 0.1f * x + 0.8f * y + 0.1f * z;
        b[i] = 0.1f * y + 0.9f * z;
      }
    }
  });
}

// What the checks compare: the source's planes, the grey result or the
// source's display histogram.
std::vector<std::vector<float>> SourcePlanes() { return bench::SlotPlanes(Source); }
std::vector<std::vector<float>> GreyPlane() { return bench::SlotPlanes(Grey); }
std::vector<std::vector<float>> HistogramCounts() {
  std::vector<float> counts;
  for (const auto& plane : Store.Display[Source].Histogram) counts.insert(counts.end(), plane.begin(), plane.end());
  return {counts};
}

// `prepare` runs after the restore and before the timed routine, untimed.
// goal: the ratio the routine must not exceed. `workers` 0: all cores, 1:
// routine and baseline on one thread. The last result (`result`) is judged by
// `against` when given, and against the scalar twin's (the vector loops off)
// on the same input.
template <typename P, typename F>
void RunAgainstBaseline(benchmark::State& state, bool intoGrey, double goal, P prepare, F routine, int workers,
                        const std::function<std::vector<std::vector<float>>()>& result, const char* what,
                        const std::function<void()>& against = {}) {
  TBenchImage& b = Bench();
  const std::function<void()> check = [&] {
    if (against) against();
    bench::ExpectTwin(
        result,
        [&] {
          b.Restore();
          prepare();
        },
        routine, 0, what);
  };
  const bool saved = Sse2Enabled;
  Sse2Enabled = true;
  bench::WithThreads(state, workers == 1 ? 1 : BandThreads(int64_t(Width) * Height, 1 << 16, true), [&] {
    bench::Measure(
        state,
        [&] {
          routine();
          benchmark::ClobberMemory();
        },
        {{"plain",
          [intoGrey] {
            PlainMix(intoGrey);
            benchmark::ClobberMemory();
          },
          goal}},
        [&] {
          b.Restore();
          prepare();
        },
        check);
  });
  Sse2Enabled = saved;
}

// The in-place conversions on all cores (workers 8) or on one thread (workers 1).
void BM_RGBtoYUV(benchmark::State& state) {
  RunAgainstBaseline(
      state, false, 1.5, [] {}, [] { bench::Expect(RGBtoYUV(Source), "RGBtoYUV failed"); }, int(state.range(0)),
      SourcePlanes, "converted planes");
}

void BM_YUVtoRGB(benchmark::State& state) {
  RunAgainstBaseline(
      state, false, 1.5, [] { RGBtoYUV(Source); }, [] { bench::Expect(YUVtoRGB(Source), "YUVtoRGB failed"); },
      int(state.range(0)), SourcePlanes, "planes back from YUV", [] {
        // A pixel blank in one plane is blank in all of them after the round trip.
        const auto& original = Bench().pristine;
        for (int p = 1; p <= 3; ++p) {
          std::vector<float> want = original[size_t(p)];
          for (size_t i = 0; i < want.size(); ++i)
            if (!IsValidPixel(original[1][i]) || !IsValidPixel(original[2][i]) || !IsValidPixel(original[3][i]))
              want[i] = BlankPixel;
          bench::ExpectNear(Store.Image[Source].Planes[size_t(p)], want, 0.1,
                            "plane " + std::to_string(p) + " back from YUV");
        }
      });
}

void BM_ApplyCameraProfile(benchmark::State& state) {
  RunAgainstBaseline(
      state, false, 2.0, [] {}, [] { bench::Expect(ApplyCameraProfile(Source, false), "no camera profile applied"); },
      int(state.range(0)), SourcePlanes, "converted planes");
}

void BM_ColorToMonoLuma(benchmark::State& state) {
  RunAgainstBaseline(
      state, true, 1.5, [] {}, [] { bench::Expect(ConvertColorToMono(Source, Grey, false), "no grey made"); }, 0,
      GreyPlane, "grey plane");
}

void BM_ColorToMonoLuminance(benchmark::State& state) {
  RunAgainstBaseline(
      state, true, 1.5, [] {}, [] { bench::Expect(ConvertColorToMono(Source, Grey, true), "no grey made"); }, 0,
      GreyPlane, "grey plane");
}

// For reference, the pixel passes alone (worker bands, blocks measured as they
// are written) without the closing histogram: what the conversions cost apart
// from the display histogram they recompute.
template <typename Run>
void PixelPass(Run run) {
  TImageSlot& im = Store.Image[Source];
  const auto scans = TransformPixelBlocks(im, 3, [&](size_t first, size_t count) {
    run(im.Plane(1).subspan(first, count), im.Plane(2).subspan(first, count), im.Plane(3).subspan(first, count));
  });
  benchmark::DoNotOptimize(scans);
}

void BM_RgbToYuvPass(benchmark::State& state) {
  RunAgainstBaseline(
      state, false, 1.5, [] {},
      [] {
        PixelPass([](std::span<float> a, std::span<float> b, std::span<float> c) { RgbToYuvRun(a, b, c, Sse2Enabled); });
      },
      int(state.range(0)), SourcePlanes, "converted planes");
}

void BM_CameraMatrixPass(benchmark::State& state) {
  LookupCameraMatrix("Canon EOS 5D Mark II");
  RunAgainstBaseline(
      state, false, 1.5, [] {},
      [] {
        PixelPass([](std::span<float> a, std::span<float> b, std::span<float> c) {
          ApplyCameraMatrixRun(a, b, c, CameraProfileMatrix, Sse2Enabled);
        });
      },
      int(state.range(0)), SourcePlanes, "converted planes");
}

void BM_XyzToRgbPass(benchmark::State& state) {
  RunAgainstBaseline(
      state, false, 1.5, [] {},
      [] {
        PixelPass([](std::span<float> a, std::span<float> b, std::span<float> c) {
          XyzToRgbRun(a, b, c, 0.0, 20000.0, Sse2Enabled);
        });
      },
      int(state.range(0)), SourcePlanes, "converted planes");
}

// For reference: the display histogram that the in-place conversions recompute
// at their end (one more pass over the three planes).
void BM_ComputeHistogram(benchmark::State& state) {
  RunAgainstBaseline(
      state, false, 2.0, [] {}, [] { ComputeHistogram(Source, false, false); }, int(state.range(0)), HistogramCounts,
      "histogram counts");
}

#define COLOUR_BENCH(fn)             \
  ASTRELON_FIGURES(fn, "plain"); \
  BENCHMARK(fn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(12)
COLOUR_BENCH(BM_RGBtoYUV)->ArgName("workers")->Arg(8)->Arg(1);
COLOUR_BENCH(BM_YUVtoRGB)->ArgName("workers")->Arg(8)->Arg(1);
COLOUR_BENCH(BM_ApplyCameraProfile)->ArgName("workers")->Arg(8)->Arg(1);
COLOUR_BENCH(BM_ColorToMonoLuma);
COLOUR_BENCH(BM_ColorToMonoLuminance);
COLOUR_BENCH(BM_RgbToYuvPass)->ArgName("workers")->Arg(8)->Arg(1);
COLOUR_BENCH(BM_CameraMatrixPass)->ArgName("workers")->Arg(8)->Arg(1);
COLOUR_BENCH(BM_XyzToRgbPass)->ArgName("workers")->Arg(8)->Arg(1);
COLOUR_BENCH(BM_ComputeHistogram)->ArgName("workers")->Arg(8)->Arg(1);

}  // namespace
}  // namespace astrelon
