// Speed of the colour-mosaic interpolation on a 6000 x 4000 RGGB mosaic, with 1
// and 8 workers, against OpenCV's demosaicing on the same values at the same
// thread count (OpenCV works on 16-bit or 8-bit samples, ours on floats holding
// the same whole numbers):
//  - "Lineare Interpolation" against COLOR_BayerBG2BGR on 16-bit values, goal 1.5;
//  - "Bayer, modified Kimmel" and "Bayer, astro" against the edge-aware
//    COLOR_BayerBG2BGR_EA on 16-bit values, goals 6.0 and 2.0;
//  - "V.N.G.", "Bayer, modified Kimmel" and "Bayer, astro" against
//    COLOR_BayerBG2BGR_VNG, which OpenCV has for 8-bit values only: both get the
//    mosaic at a quarter scale (0..255); goal 1.0 each.
// BM_AstroConversion times the whole "Bayer, astro" conversion (working mosaic,
// interpolation, result slot) on all cores against OpenCV doing the same on 8
// threads: the float mosaic to 16-bit, COLOR_BayerBG2BGR_EA and the three
// planes back to floats; goal 1.5.
// Checks: the linear interpolation against OpenCV's bilinear result (the same
// work) away from a two-pixel border, within 1 (OpenCV rounds to whole
// numbers; red and blue, green's kernels being another interpolation); every
// method and the whole conversion against the scalar twin (the vector loops
// off) run on the same mosaic after the timed runs, value by value: equal.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "core/settings.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "peer_measure.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "pixelops/mosaic/mosaic_interpolation.h"
#include "pixelops/mosaic/mosaic_passes.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;

// A smooth scene with stars and noise, as an RGGB mosaic of 16-bit values, and
// the same at a quarter scale for the 8-bit peer.
struct TMosaics {
  TMosaics() {
    std::vector<uint16_t> v(size_t(Width) * Height);
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 40.0f);
    std::uniform_int_distribution<int> star(0, 4000);
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x) {
        const float base = 3000.0f + 800.0f * float((x & 1) + (y & 1)) + 0.2f * float(x + y);
        const float s = star(rng) == 0 ? 30000.0f : 0.0f;
        v[size_t(y) * Width + size_t(x)] = uint16_t(std::clamp(base + s + noise(rng), 0.0f, 65535.0f));
      }
    cv::Mat(Height, Width, CV_16UC1, v.data()).copyTo(Samples16);
    Samples16.convertTo(Samples8, CV_8UC1, 1.0 / 64);
    Samples16.convertTo(Float16, CV_32F);
    Samples8.convertTo(Float8, CV_32F);
  }
  cv::Mat Samples16, Samples8, Float16, Float8;
};

TMosaics& Mosaics() {
  static TMosaics m;
  return m;
}

// Slot `slot` as a mosaic (one plane) or the interpolation's destination (three planes) of `values`.
void PutSlot(int slot, int planes, const cv::Mat& values) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = Width;
  im.Height = Height;
  im.PlaneCount = planes;
  im.IsColor = planes == 3;
  im.AllocatePlanesForOverwrite(planes);
  const float* v = values.ptr<float>();
  for (int p = 1; p <= planes; ++p) std::copy_n(v, size_t(Width) * Height, im.Planes[size_t(p)].begin());
  Store.InUse[size_t(slot)] = 1;
  Store.FileName[size_t(slot)] = "/tmp/mosaic.fit";
  MakeDefaultHeader(slot);
  UpdateMinMax(slot);
}

// The linear interpolation's planes against OpenCV's BGR result `bgr` inside
// a two-pixel border. The result may be smaller than the mosaic by a border it
// leaves out; it lies centred on the mosaic.
void ExpectLikeOpenCv(const cv::Mat& bgr) {
  const TImageSlot& im = Store.Image[2];
  const int32_t w = im.Width, h = im.Height, dx = (Width - w) / 2, dy = (Height - h) / 2;
  std::vector<cv::Mat> channels;
  cv::split(bgr, channels);
  // Red and blue; green's kernels (the mean of every kernel that sees green,
  // with negative taps) are another interpolation than OpenCV's four.
  for (const int p : {1, 3}) {
    cv::Mat theirs;
    channels[size_t(3 - p)](cv::Rect(dx, dy, w, h)).convertTo(theirs, CV_32F);
    bench::ExpectNearInside(im.Planes[size_t(p)], std::span<const float>(theirs.ptr<float>(), theirs.total()), w, h, 2,
                            1.0, "plane " + std::to_string(p) + " against OpenCV's bilinear interpolation");
  }
}

// Method `method` on `workers` workers against one OpenCV conversion of the
// same values (8-bit or 16-bit samples); the result against OpenCV's (linear)
// and the scalar twin's.
void Against(benchmark::State& state, int method, int workers, bool eightBit, const char* peer, int code,
             double goal) {
  TMosaics& m = Mosaics();
  const cv::Mat& values = eightBit ? m.Float8 : m.Float16;
  Store.Reset();
  MosaicPattern = {McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1};
  PutSlot(1, 1, values);
  const std::vector<int32_t> cols = SizeRatioOffsets(Width, 1.0), rows = SizeRatioOffsets(Height, 1.0);
  TMosaicStage s;
  s.Source = 1;
  s.Destination = 2;
  s.Method = method;
  s.Noise = eightBit ? 40.0f / 64 : 40.0f;
  s.RedColumns = s.BlueColumns = cols;
  s.RedRows = s.BlueRows = rows;
  const cv::Mat& samples = eightBit ? m.Samples8 : m.Samples16;
  cv::Mat out;
  cv::setNumThreads(workers);
  const std::function<void()> interpolate = [&] {
    if (!InterpolateMosaic(s, workers)) bench::Fail("no result");
  };
  const std::function<void()> prepare = [&] { PutSlot(2, 3, values); };
  bench::WithThreads(state, workers, [&] {
    bench::Measure(state, interpolate, {{peer, [&] { cv::cvtColor(samples, out, code); }, goal}}, prepare, [&] {
      if (method == DmLinear) ExpectLikeOpenCv(out);
      bench::ExpectTwin([] { return bench::SlotPlanes(2); }, prepare, interpolate, 0, "interpolated image");
    });
  });
  Store.Reset();
}

void BM_LinearVsBilinear(benchmark::State& state) {
  Against(state, DmLinear, int(state.range(0)), false, "opencv", cv::COLOR_BayerBG2BGR, 1.5);
}
ASTRELON_FIGURES(BM_LinearVsBilinear, "opencv");

void BM_MosaicVsEdgeAware(benchmark::State& state) {
  const int method = int(state.range(0));
  Against(state, method, int(state.range(1)), false, "opencv_ea", cv::COLOR_BayerBG2BGR_EA,
          method == DmKimmel ? 6.0 : 2.0);
}
ASTRELON_FIGURES(BM_MosaicVsEdgeAware, "opencv_ea");

void BM_MosaicVsVng8(benchmark::State& state) {
  const int method = int(state.range(0));
  Against(state, method, int(state.range(1)), true, "opencv_vng", cv::COLOR_BayerBG2BGR_VNG, 1.0);
}
ASTRELON_FIGURES(BM_MosaicVsVng8, "opencv_vng");

BENCHMARK(BM_LinearVsBilinear)
    ->ArgName("workers")
    ->Arg(1)
    ->Arg(8)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4);
BENCHMARK(BM_MosaicVsEdgeAware)
    ->ArgNames({"method", "workers"})
    ->ArgsProduct({{DmKimmel, DmAstro}, {1, 8}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4);
BENCHMARK(BM_MosaicVsVng8)
    ->ArgNames({"method", "workers"})
    ->ArgsProduct({{DmVng, DmKimmel, DmAstro}, {1, 8}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4);

// The whole "Bayer, astro" conversion (working mosaic, interpolation, result) on all cores.
void BM_AstroConversion(benchmark::State& state) {
  TMosaics& m = Mosaics();
  Store.Reset();
  PutSlot(1, 1, m.Float16);
  MosaicSettings = TMosaicSettings{};
  MosaicSettings.Method = DmAstro;
  MosaicSettings.CameraProfile = false;
  int result = -1;
  const cv::Mat mosaic(Height, Width, CV_32F, Store.Image[1].Planes[1].data());
  cv::setNumThreads(8);
  const std::function<void()> convert = [&] {
    result = GenerateRgbFromMosaic(1);
    if (result < 1) bench::Fail("no result");
  };
  const std::function<void()> prepare = [&] {
    if (result > 0) FreeSlot(result);
    result = -1;
  };
  bench::WithThreads(state, 8, [&] {
    bench::Measure(
        state, convert,
        {{"opencv_ea",
          [&] {
            cv::Mat samples, bgr;
            mosaic.convertTo(samples, CV_16U);
            cv::cvtColor(samples, bgr, cv::COLOR_BayerBG2BGR_EA);
            std::vector<cv::Mat> planes(3);
            cv::split(bgr, planes);
            std::vector<cv::Mat> floats(3);
            for (int c = 0; c < 3; ++c) planes[size_t(c)].convertTo(floats[size_t(c)], CV_32F);
            benchmark::DoNotOptimize(floats[0].data);
          },
          1.5}},
        prepare,
        [&] { bench::ExpectTwin([&] { return bench::SlotPlanes(result); }, prepare, convert, 0, "converted image"); });
  });
  Store.Reset();
}
ASTRELON_FIGURES(BM_AstroConversion, "opencv_ea");

BENCHMARK(BM_AstroConversion)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace
}  // namespace astrelon
