// Speed of the value workers and the stray-pixel removal on a 6000 x 4000 RGB
// image (8 threads at most). Each benchmark times its routine and a baseline in
// the same iterations, on the same number of threads:
//  - Value workers (all cores): a plain loop of the baseline pool adding 1 to
//    every value of the same planes, split into the same rows (figure "plain";
//    goals 1.2 for the additions, products, clamps and squares, 1.5 for the
//    square root, the rounding and the move towards zero).
//  - RemoveHotPixels on one plane (scalar path on one thread, vector path on one
//    and eight): OpenCV's 3 x 3 median of the same float plane on as many
//    threads (figure "opencv", goal 2: the neighbours' spread is measured as well).
//  - RemoveHotPixels on three planes (one thread each): OpenCV's 3 x 3 median of
//    the three planes on three threads (figure "opencv", goal 2).
// Every run starts from the same planes. Checks: each value worker's planes
// against the operation computed here from the planes it started from
// (exactly; blanks stay); the hot-pixel removal against the other path (the
// scalar twin, or for the scalar path the vector one) on the same planes after
// the timed runs, exactly. The plain
// loop is vectorised for the machine.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <functional>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "band_pool.h"
#include "core/settings.h"
#include "kernels/regions/rect_runs.h"
#include "kernels/regions/remove_hot_pixels.h"
#include "kernels/regions/value_arithmetic.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;
constexpr int Colour = 1, Grey = 2;

// Sky with noise (sigma 20 around 500, within 2 .. 1000), one pixel in 2000 a
// spike, and the blank margins of an aligned frame (24 rows and columns); the
// value workers also meet one blank pixel in 200 scattered over the image.
struct TBenchImage {
  TBenchImage() {
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(500.0f, 20.0f);
    for (auto& p : pristine) {
      p.resize(size_t(Width) * Height);
      for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
          float v = std::clamp(noise(rng), 2.0f, 1000.0f);
          if (rng() % 2000 == 0) v = 1000.0f;
          if (x < 24 || y < 24 || x >= Width - 24 || y >= Height - 24) v = BlankPixel;
          p[size_t(y) * Width + size_t(x)] = v;
        }
      scattered.push_back(p);
      for (float& v : scattered.back())
        if (rng() % 200 == 0) v = BlankPixel;
    }
    Options.Multicore = 1;
    DetectCpuFeatures();
    ApplySimdSetting();
  }
  // Fresh copies of the planes in the colour slot and of plane 1 in the grey slot.
  void Reset(bool withScatteredBlanks) {
    for (int slot : {Colour, Grey}) {
      TImageSlot& im = Store.Image[slot];
      im.Width = Width;
      im.Height = Height;
      im.PlaneCount = slot == Colour ? 3 : 1;
      im.IsColor = slot == Colour;
      for (int p = 1; p <= im.PlaneCount; ++p)
        im.Planes[size_t(p)] = withScatteredBlanks ? scattered[size_t(p - 1)] : pristine[size_t(p - 1)];
      Store.InUse[slot] = 1;
    }
    SetWorkRectToImage(Colour);
  }
  std::array<TPlane, 3> pristine;
  std::vector<TPlane> scattered;
};

TBenchImage& Bench() {
  static TBenchImage image;
  return image;
}

// Plain loop over the planes of the colour slot on as many threads as the workers use.
void PlainAdd() {
  TImageSlot& im = Store.Image[Colour];
  const TClippedRect r{0, Width - 1, 0, Height - 1};
  const int64_t rows = int64_t(Height) * 3;
  const std::array<float*, 3> planes{im.Planes[1].data(), im.Planes[2].data(), im.Planes[3].data()};
  bench::PlainBands(rows, RectRunThreads(r, 3), [=](int64_t first, int64_t last) {
    for (int64_t k = first; k < last; ++k) {
      float* const row = planes[size_t(k / Height)] + size_t(k % Height) * Width;
      for (int x = 0; x < Width; ++x) row[x] += 1.0f;
    }
  });
}

// A worker against the plain loop; its planes afterwards must be op(p, v) of
// the planes it started from (valid values; blanks stay).
template <class Op>
void RunWorker(benchmark::State& state, double goal, const std::function<void()>& worker, Op op) {
  Bench().Reset(true);
  bench::WithThreads(state, RectRunThreads({0, Width - 1, 0, Height - 1}, 3), [&] {
    bench::Measure(
        state, worker, {{"plain", PlainAdd, goal}}, [] { Bench().Reset(true); },
        [&] {
          for (int p = 1; p <= 3; ++p) {
            const TPlane& start = Bench().scattered[size_t(p - 1)];
            TPlane want(start.size());
            for (size_t i = 0; i < start.size(); ++i) want[i] = IsValidPixel(start[i]) ? op(p, start[i]) : start[i];
            bench::ExpectNear(Store.Image[Colour].Planes[size_t(p)], want, 0, "plane " + std::to_string(p));
          }
        });
  });
}

// The factors of the multiplication.
constexpr std::array<double, 3> Factor{1.5, 0.5, 2.0};

void BM_AddValuesToRect(benchmark::State& s) {
  RunWorker(
      s, 1.2, [] { AddValuesToRect(Colour, 1, 2, 3); }, [](int p, float v) { return float(double(v) + p); });
}
void BM_MultiplyRectByValues(benchmark::State& s) {
  RunWorker(
      s, 1.2, [] { MultiplyRectByValues(Colour, Factor[0], Factor[1], Factor[2]); },
      [](int p, float v) { return float(double(v) * Factor[size_t(p - 1)]); });
}
void BM_ClampValuesBelow(benchmark::State& s) {
  RunWorker(
      s, 1.2, [] { ClampValuesBelow(Colour, 100); }, [](int, float v) { return std::max(v, 100.0f); });
}
void BM_ClampValuesAbove(benchmark::State& s) {
  RunWorker(
      s, 1.2, [] { ClampValuesAbove(Colour, 900); }, [](int, float v) { return std::min(v, 900.0f); });
}
void BM_TakeSquareRoot(benchmark::State& s) {
  RunWorker(
      s, 1.5, [] { TakeSquareRoot(Colour); }, [](int, float v) { return v > 0 ? std::sqrt(v) : 0.0f; });
}
void BM_SquareValues(benchmark::State& s) {
  RunWorker(
      s, 1.2, [] { SquareValues(Colour); }, [](int, float v) { return v * v; });
}
void BM_RoundValues(benchmark::State& s) {
  RunWorker(
      s, 1.5, [] { RoundValues(Colour); }, [](int, float v) { return std::nearbyint(v); });
}
void BM_MoveValuesTowardZero(benchmark::State& s) {
  RunWorker(
      s, 1.5, [] { MoveValuesTowardZero(Colour, 0.5f); },
      [](int, float v) { return v >= 0 ? std::max(v - 0.5f, 0.0f) : std::min(v + 0.5f, 0.0f); });
}

// One plane. Arguments: 0 scalar path, 1 vector path; threads. The plane starts
// from the same values before each run.
void BM_RemoveHotPixelsPlane(benchmark::State& state) {
  Bench().Reset(false);
  TPlane& plane = Store.Image[Grey].Planes[1];
  const bool vector = state.range(0) != 0;
  const int threads = int(state.range(1));
  cv::setNumThreads(threads);
  const cv::Mat src(Height, Width, CV_32F, Bench().pristine[0].data());
  cv::Mat dst(Height, Width, CV_32F);
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state,
        [&] { RemoveHotPixelsPlane(plane, Width, Height, 1, Width - 2, 1, Height - 2, 3.0f, 20.0f, vector, threads); },
        {{"opencv",
          [&] {
            cv::medianBlur(src, dst, 3);
            benchmark::DoNotOptimize(dst.data);
          },
          2.0}},
        [&] { plane = Bench().pristine[0]; },
        [&] {
          // Against the other path on the same plane: the vector path's twin is
          // the scalar one, and the scalar path is checked against the vector one.
          const std::vector<float> got(plane.begin(), plane.end());
          plane = Bench().pristine[0];
          RemoveHotPixelsPlane(plane, Width, Height, 1, Width - 2, 1, Height - 2, 3.0f, 20.0f, !vector, threads);
          bench::ExpectNear(got, std::vector<float>(plane.begin(), plane.end()), 0,
                            vector ? "plane without hot pixels against the scalar twin"
                                   : "plane without hot pixels against the vector path");
        });
  });
}

// Three planes side by side (noise estimates included), against three medians on three threads.
void BM_RemoveHotPixelsThreePlanes(benchmark::State& state) {
  Bench().Reset(false);
  cv::setNumThreads(3);
  std::vector<cv::Mat> out(3);  // kept between runs: ours works in place
  bench::WithThreads(state, 3, [&] {
    bench::Measure(
        state, [] { RemoveHotPixels(Colour, 0, Width - 1, 0, Height - 1, 3.0f); },
        {{"opencv",
          [&] {
            cv::parallel_for_(cv::Range(0, 3), [&](const cv::Range& r) {
              for (int p = r.start; p < r.end; ++p) {
                const cv::Mat plane(Height, Width, CV_32F, Bench().pristine[size_t(p)].data());
                cv::medianBlur(plane, out[size_t(p)], 3);
              }
            });
            benchmark::DoNotOptimize(out[0].data);
          },
          2.0}},
        [] { Bench().Reset(false); },
        [] {
          bench::ExpectTwin([] { return bench::SlotPlanes(Colour); }, [] { Bench().Reset(false); },
                            [] { RemoveHotPixels(Colour, 0, Width - 1, 0, Height - 1, 3.0f); }, 0,
                            "planes without hot pixels");
        });
  });
}

#define WORKER_BENCH(fn)           \
  ASTRELON_FIGURES(fn, "plain"); \
  BENCHMARK(fn)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0)
WORKER_BENCH(BM_AddValuesToRect);
WORKER_BENCH(BM_MultiplyRectByValues);
WORKER_BENCH(BM_ClampValuesBelow);
WORKER_BENCH(BM_ClampValuesAbove);
WORKER_BENCH(BM_TakeSquareRoot);
WORKER_BENCH(BM_SquareValues);
WORKER_BENCH(BM_RoundValues);
WORKER_BENCH(BM_MoveValuesTowardZero);
ASTRELON_FIGURES(BM_RemoveHotPixelsPlane, "opencv");
ASTRELON_FIGURES(BM_RemoveHotPixelsThreePlanes, "opencv");
BENCHMARK(BM_RemoveHotPixelsPlane)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({1, 8})
    ->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RemoveHotPixelsThreePlanes)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace astrelon
