// Speed of the colour-mosaic interpolation on a 6000 x 4000 mosaic of 16-bit
// values, with 1 and 8 workers, against OpenCV's demosaicing at the same thread
// count on the same mosaic (16-bit; 8-bit for V.N.G., which OpenCV has only for
// 8 bits): "Lineare Interpolation" against COLOR_BayerBG2BGR, "V.N.G." against
// COLOR_BayerBG2BGR_VNG, "Bayer, modified Kimmel" against the same (goal: within
// 2x), "Bayer, astro" against COLOR_BayerBG2BGR_EA. The counter
// "ratio" is our fastest run over OpenCV's fastest. A second benchmark times the
// whole "Bayer, astro" conversion on all cores (goal: under 250 ms).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "core/settings.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "pixelops/mosaic/mosaic_interpolation.h"
#include "pixelops/mosaic/mosaic_passes.h"
#include "store/header_cards.h"
#include "store/image_store.h"

#ifdef ASTRELON_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;
using Clock = std::chrono::steady_clock;

// A smooth scene with stars and noise, as an RGGB mosaic of 16-bit values.
const std::vector<uint16_t>& Mosaic() {
  static const std::vector<uint16_t> m = [] {
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
    return v;
  }();
  return m;
}

void PutSlot(int slot, int planes) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = Width;
  im.Height = Height;
  im.PlaneCount = planes;
  im.IsColor = planes == 3;
  im.AllocatePlanesForOverwrite(planes);
  const auto& m = Mosaic();
  for (int p = 1; p <= planes; ++p) std::copy(m.begin(), m.end(), im.Planes[size_t(p)].begin());
  Store.InUse[size_t(slot)] = 1;
  Store.FileName[size_t(slot)] = "/tmp/mosaic.fit";
  MakeDefaultHeader(slot);
  UpdateMinMax(slot);
}

#ifdef ASTRELON_HAVE_OPENCV
double PeerSeconds(int code, bool eightBit, int threads) {
  cv::setNumThreads(threads);
  const auto& m = Mosaic();
  cv::Mat src16(Height, Width, CV_16UC1, const_cast<uint16_t*>(m.data())), src8, out;
  src16.convertTo(src8, CV_8UC1, 1.0 / 256);
  const cv::Mat& src = eightBit ? src8 : src16;
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    const auto t0 = Clock::now();
    cv::cvtColor(src, out, code);
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return best;
}
#endif

void BM_MosaicMethod(benchmark::State& state) {
  const int method = int(state.range(0)), workers = int(state.range(1));
  Store.Reset();
  MosaicPattern = {McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1};
  PutSlot(1, 1);
  const std::vector<int32_t> cols = SizeRatioOffsets(Width, 1.0), rows = SizeRatioOffsets(Height, 1.0);
  TMosaicStage s;
  s.Source = 1;
  s.Destination = 2;
  s.Method = method;
  s.Noise = 40;
  s.RedColumns = s.BlueColumns = cols;
  s.RedRows = s.BlueRows = rows;
  double best = 1e30;
  for (auto _ : state) {
    PutSlot(2, 3);
    const auto t0 = Clock::now();
    if (!InterpolateMosaic(s, workers)) state.SkipWithError("no result");
    const double run = std::chrono::duration<double>(Clock::now() - t0).count();
    best = std::min(best, run);
    state.SetIterationTime(run);
  }
  state.counters["routine_ms"] = best * 1e3;
#ifdef ASTRELON_HAVE_OPENCV
  const int code = method == DmLinear ? cv::COLOR_BayerBG2BGR
                   : method == DmVng || method == DmKimmel ? cv::COLOR_BayerBG2BGR_VNG
                                                           : cv::COLOR_BayerBG2BGR_EA;
  const double peer = PeerSeconds(code, code == cv::COLOR_BayerBG2BGR_VNG, workers);
  state.counters["peer_ms"] = peer * 1e3;
  state.counters["ratio"] = best / peer;
  state.counters["ratio_goal"] = method == DmLinear ? 1.5 : method == DmKimmel ? 2.0 : 1.0;
#endif
  Store.Reset();
}

BENCHMARK(BM_MosaicMethod)
    ->ArgsProduct({{DmLinear, DmVng, DmKimmel, DmAstro}, {1, 8}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4);

// The whole "Bayer, astro" conversion (working mosaic, interpolation, result) on all cores.
void BM_AstroConversion(benchmark::State& state) {
  Store.Reset();
  PutSlot(1, 1);
  Options.Multicore = 1;
  MosaicSettings = TMosaicSettings{};
  MosaicSettings.Method = DmAstro;
  MosaicSettings.CameraProfile = false;
  double best = 1e30;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const int r = GenerateRgbFromMosaic(1);
    const double run = std::chrono::duration<double>(Clock::now() - t0).count();
    if (r < 1) state.SkipWithError("no result");
    FreeSlot(r);
    best = std::min(best, run);
    state.SetIterationTime(run);
  }
  state.counters["routine_ms"] = best * 1e3;
  state.counters["ratio"] = best / 0.25;  // against the 250 ms goal
  state.counters["ratio_goal"] = 1.0;
  Store.Reset();
}

BENCHMARK(BM_AstroConversion)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace
}  // namespace astrelon
