// Loading a 6000 x 4000 camera RAW file (a DNG with a lossless-JPEG or an
// uncompressed mosaic, written by the test suite's DNG writer into the page
// cache) against LibRaw alone in the same run: open_file + unpack() for the
// mosaic load, open_file + unpack() + dcraw_process() for the interpolated load
// (figure "libraw"). Goals for the mosaic load: lossless JPEG 1.2 (the decode
// dominates), uncompressed 2.0 (LibRaw only copies the samples, ours also turns
// them into a float plane twice their size and measures it); the interpolated
// load 1.0 (our interpolation against LibRaw's). Checks: the mosaic load holds
// exactly the samples written less the black level; the interpolated image
// equals that of the scalar twin (the vector loops off) loading the same file
// after the timed runs.
#include <benchmark/benchmark.h>

#include "bench_folder.h"
#include "peer_measure.h"
#include <libraw/libraw.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

constexpr int Width = 6000, Height = 4000, BlackLevel = 512;

// The samples the files hold.
std::vector<uint16_t> Mosaic() { return test::MakeTestMosaic(Width, Height, 600, 12000, 99); }

const std::string& Prepared(bool jpeg) {
  static std::string files[2];
  std::string& f = files[jpeg ? 1 : 0];
  if (f.empty()) {
    test::TDngLayout s;
    s.Width = Width;
    s.Height = Height;
    s.Cfa = Mosaic();
    s.BlackLevel = BlackLevel;
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
  if (raw->open_file(file.c_str()) != LIBRAW_SUCCESS || raw->unpack() != LIBRAW_SUCCESS ||
      (process && raw->dcraw_process() != LIBRAW_SUCCESS))
    bench::Fail("LibRaw could not read " + file);
  benchmark::DoNotOptimize(raw->imgdata.rawdata.raw_image);
}

void Compare(benchmark::State& state, bool interpolate) {
  Setup();
  const std::string& file = Prepared(state.range(0) != 0);
  const std::function<void()> load = [&] {
    if (!LoadCameraRaw(1, file, interpolate, false, false)) bench::Fail("load failed");
  };
  bench::Measure(
      state, load,
      {{"libraw", [&] { LibRawOnly(file, interpolate); },
        interpolate           ? 1.0
        : state.range(0) != 0 ? 1.2
                              : 2.0}},
      [] { FreeSlot(1); },
      [&] {
        if (interpolate) {
          bench::ExpectTwin([] { return bench::SlotPlanes(1); }, [] { FreeSlot(1); }, load, 0, "interpolated image");
          return;
        }
        const std::vector<uint16_t> samples = Mosaic();
        std::vector<float> want(samples.size());
        for (size_t i = 0; i < want.size(); ++i) want[i] = float(samples[i]) - float(BlackLevel);
        bench::ExpectNear(Store.Image[1].Planes[1], want, 0, "mosaic");
      });
  FreeSlot(1);
}

void BM_RawMosaic(benchmark::State& state) { Compare(state, false); }
void BM_RawInterpolated(benchmark::State& state) { Compare(state, true); }
ASTRELON_FIGURES(BM_RawMosaic, "libraw");
ASTRELON_FIGURES(BM_RawInterpolated, "libraw");

BENCHMARK(BM_RawMosaic)->ArgName("ljpeg")->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RawInterpolated)->ArgName("ljpeg")->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
