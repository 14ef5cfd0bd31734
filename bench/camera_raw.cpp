// Loading a 6000 x 4000 camera RAW file (a DNG with a lossless-JPEG or an
// uncompressed mosaic, written by the test suite's DNG writer into the page
// cache) against LibRaw alone in the same run: open_file + unpack() for the
// mosaic load, open_file + unpack() + dcraw_process() for the interpolated load.
// Counters: our time, LibRaw's, and their ratio (ours / LibRaw).
#include <benchmark/benchmark.h>

#include "bench_folder.h"
#include <libraw/libraw.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "core/settings.h"
#include "dng_writer.h"
#include "platform/processor_features.h"
#include "store/image_store.h"
#include "store/raw/camera_raw.h"

namespace {

using namespace astrelon;
using Clock = std::chrono::steady_clock;

std::string Folder() {
  static const bench::TBenchFolder folder("raw");
  return folder.Path;
}

const std::string& Prepared(bool jpeg) {
  static std::string files[2];
  std::string& f = files[jpeg ? 1 : 0];
  if (f.empty()) {
    test::TDngLayout s;
    s.Width = 6000;
    s.Height = 4000;
    s.Cfa = test::MakeTestMosaic(s.Width, s.Height, 600, 12000, 99);
    s.BlackLevel = 512;
    s.WhiteLevel = 16383;
    s.ExposureTime = 30;
    s.Iso = 1600;
    s.LosslessJpeg = jpeg;
    f = Folder() + (jpeg ? "/mosaic_ljpeg.dng" : "/mosaic_plain.dng");
    test::WriteDng(f, s);
  }
  return f;
}

void Setup() {
  DetectCpuFeatures();  // as at start-up
  ApplySimdSetting();
  Options.RScaleOff = 0;
  Options.Highlight = 0;
}

// LibRaw alone, as the decoder adapter sets it up.
void LibRawOnly(const std::string& file, bool process) {
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
  raw->imgdata.params.use_camera_wb = 1;
  raw->imgdata.params.output_bps = 16;
  raw->imgdata.params.gamm[0] = raw->imgdata.params.gamm[1] = 1.0;
  raw->imgdata.params.no_auto_bright = 1;
  raw->open_file(file.c_str());
  raw->unpack();
  if (process) raw->dcraw_process();
  benchmark::DoNotOptimize(raw->imgdata.rawdata.raw_image);
}

void Measure(benchmark::State& state, bool interpolate) {
  Setup();
  const std::string& file = Prepared(state.range(0) != 0);
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    LibRawOnly(file, interpolate);
    auto t1 = Clock::now();
    if (!LoadCameraRaw(1, file, interpolate, false, false)) state.SkipWithError("load failed");
    auto t2 = Clock::now();
    theirs += std::chrono::duration<double>(t1 - t0).count();
    ours += std::chrono::duration<double>(t2 - t1).count();
    state.PauseTiming();
    FreeSlot(1);
    state.ResumeTiming();
  }
  const double n = double(state.iterations());
  state.counters["ours_ms"] = ours / n * 1e3;
  state.counters["libraw_ms"] = theirs / n * 1e3;
  state.counters["ratio"] = ours / theirs;
}

void BM_RawMosaic(benchmark::State& state) { Measure(state, false); }
void BM_RawInterpolated(benchmark::State& state) { Measure(state, true); }

BENCHMARK(BM_RawMosaic)->ArgName("ljpeg")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RawInterpolated)->ArgName("ljpeg")->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
