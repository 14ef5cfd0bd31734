// Speed of the two-times enlargement pieces on a 4096 x 4096 grey star field,
// with one thread and with all (up to eight), timed in the same iterations as
// their peers on the same thread count:
//  - UpscaleX2Triangulation against OpenCV's resize x2 INTER_CUBIC (into a kept
//    matrix) and libvips' vips_resize x2 with the cubic kernel: goal 1.0 against
//    each, i.e. at least as fast as the faster;
//  - SharpenNeighbours3 in place against OpenCV's filter2D (CV_32F) with the
//    same normalised 5 x 5 kernel into a kept matrix: goal 1.0.
// Checks: the enlargement equals that of the scalar twin (the vector loops
// off) made from the same field after the timed runs; the sharpened plane equals OpenCV's filter2D (the same
// work) inside the two border rows and columns it leaves alone, within 0.05.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vips/vips.h>

#include "filters/enlargement/sharpen_neighbours3.h"
#include "filters/enlargement/upscale_x2_triangulation.h"
#include "kernels/gauss/filter_rows.h"
#include "peer_measure.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 4096;

struct TBenchField {
  TBenchField() {
    bench::MakeFilterField(Side);
    VIPS_INIT("bench_enlargement");
    vips_cache_set_max(0);
  }
};

TBenchField& Field() {
  static TBenchField f;
  return f;
}

int Threads(const benchmark::State& state) { return state.range(0) > 1 ? FilterThreads(int64_t(Side) * Side) : 1; }

cv::Mat Source() { return cv::Mat(Side, Side, CV_32F, Store.Image[1].Planes[1].data()); }

void BM_TriangulationVsCubic(benchmark::State& state) {
  Field();
  const int threads = Threads(state);
  cv::Mat kept(2 * Side, 2 * Side, CV_32F);
  const std::function<void()> enlarge = [] {
    if (!UpscaleX2Triangulation(1, 2)) bench::Fail("triangulation stopped");
  };
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state, enlarge,
        {{"opencv",
          [&] {
            cv::setNumThreads(threads);
            cv::resize(Source(), kept, kept.size(), 0, 0, cv::INTER_CUBIC);
            benchmark::DoNotOptimize(kept.data);
          },
          1.0},
         {"vips",
          [&] {
            vips_concurrency_set(threads);
            VipsImage* in = vips_image_new_from_memory(Store.Image[1].Planes[1].data(),
                                                       size_t(Side) * Side * sizeof(float), Side, Side, 1,
                                                       VIPS_FORMAT_FLOAT);
            VipsImage* out = nullptr;
            const int ok = vips_resize(in, &out, 2.0, "kernel", VIPS_KERNEL_CUBIC, nullptr);
            size_t bytes = 0;
            void* data = ok == 0 ? vips_image_write_to_memory(out, &bytes) : nullptr;
            benchmark::DoNotOptimize(data);
            g_free(data);
            if (out) g_object_unref(out);
            g_object_unref(in);
            if (!data) bench::Fail("vips_resize failed");
          },
          1.0}},
        [] { CopyImageSlot(1, 2); },
        [&] {
          bench::ExpectTwin([] { return bench::SlotPlanes(2); }, [] { CopyImageSlot(1, 2); }, enlarge, 0,
                            "enlarged image");
        });
  });
}
ASTRELON_FIGURES(BM_TriangulationVsCubic, "opencv", "vips");

void BM_SharpenNeighbours3VsFilter2D(benchmark::State& state) {
  Field();
  const int threads = Threads(state);
  const TNeighbourWeights k{0.0f, -0.01f, -0.013f, -0.007f};
  cv::Mat kernel = cv::Mat::zeros(5, 5, CV_32F);
  auto set = [&](int dx, int dy, float w) { kernel.at<float>(2 + dy, 2 + dx) = w; };
  set(0, 0, 1.0f);
  for (int s : {-1, 1}) {
    set(0, s, k.Direct), set(s, 0, k.Direct);
    set(0, 2 * s, k.Straight2), set(2 * s, 0, k.Straight2);
    for (int t : {-1, 1}) set(s, t, k.Diagonal), set(s, 2 * t, k.Knight), set(2 * s, t, k.Knight);
  }
  kernel /= cv::sum(kernel)[0];
  cv::Mat kept(Side, Side, CV_32F);
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state,
        [&] {
          TImageSlot& im = Store.Image[2];
          SharpenNeighbours3Plane(im.Planes[1], Side, Side, k, true);
          benchmark::DoNotOptimize(im.Planes[1].data());
        },
        {{"opencv",
          [&] {
            cv::setNumThreads(threads);
            cv::filter2D(Source(), kept, CV_32F, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
            benchmark::DoNotOptimize(kept.data);
          },
          1.0}},
        [] {
          TImageSlot& im = Store.Image[2];
          im.Planes[1].resize(size_t(Side) * Side);
          std::memcpy(im.Planes[1].data(), Store.Image[1].Planes[1].data(), size_t(Side) * Side * sizeof(float));
        },
        [&] {
          bench::ExpectNearInside(Store.Image[2].Planes[1], std::span<const float>(kept.ptr<float>(), kept.total()),
                                  Side, Side, 2, 0.05, "sharpened plane against OpenCV's filter2D");
        });
  });
}
ASTRELON_FIGURES(BM_SharpenNeighbours3VsFilter2D, "opencv");

BENCHMARK(BM_TriangulationVsCubic)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SharpenNeighbours3VsFilter2D)
    ->Arg(1)
    ->Arg(8)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
}  // namespace astrelon
