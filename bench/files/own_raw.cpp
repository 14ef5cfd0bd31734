// Loading a 6000 x 4000 16-bit own RAW file, with one thread ("Multicores"
// off) and with the default workers (the decoding thread and up to four
// converting ones), against a plain loop on as many threads of the baseline
// pool that reads the file in blocks (positioned reads) and converts its
// samples into a new float plane, in the same iterations (figure "plain"; no
// library reads this format; the conversion vectorised for the machine). Goal
// 1.5: the load also measures the values and sets up the slot. Check: the
// loaded plane holds exactly the samples written.
#include <benchmark/benchmark.h>

#include "band_pool.h"
#include "bench_folder.h"
#include "peer_measure.h"
#include "plain_loops.h"

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "platform/processor_features.h"
#include "store/image_store.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/raw/own_raw.h"

namespace {

using namespace astrelon;
using Clock = std::chrono::steady_clock;

constexpr int W = 6000, H = 4000;

std::string Folder() {
  static const bench::TBenchFolder folder("own-raw");
  return folder.Path;
}

// The samples of the file.
std::vector<uint16_t> Samples() {
  std::vector<uint16_t> samples(size_t(W) * H);
  uint32_t seed = 3;
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint16_t((seed = seed * 1664525u + 1013904223u) >> 16);
  return samples;
}

const std::string& RawFile() {
  static const std::string name = [] {
    const std::string f = Folder() + "/big.raw";
    const std::vector<uint16_t> samples = Samples();
    FILE* fp = std::fopen(f.c_str(), "wb");
    std::vector<char> header(512, 0);
    std::fwrite(header.data(), 1, header.size(), fp);
    std::fwrite(samples.data(), 2, samples.size(), fp);
    std::fclose(fp);
    TRawFormatDef& d = RawFormatDefs[1];
    d = {1, ".raw", 512, W, H, 16, 0, 0, 0, ""};
    BuildOwnRawExtensionList();
    return f;
  }();
  return name;
}

// The file read in blocks on `threads` threads and its little-endian samples
// converted into one float plane (not cleared first).
void ReadAndConvert(const std::string& f, int threads) {
  const int fd = ::open(f.c_str(), O_RDONLY);
  if (fd < 0) bench::Fail("cannot open " + f);
  TPlane plane(size_t(W) * H);
  bench::PoolBands(H, threads, [&](int64_t first, int64_t last) {
    constexpr int64_t Rows = 16;
    std::vector<uint16_t> block(size_t(Rows) * W);
    for (int64_t y = first; y < last; y += Rows) {
      const int64_t rows = std::min(Rows, last - y);
      const ssize_t bytes = ssize_t(rows) * W * 2;
      if (::pread(fd, block.data(), size_t(bytes), off_t(512 + y * W * 2)) != bytes) std::abort();
      float* const out = plane.data() + size_t(y) * W;
      const uint16_t* const in = block.data();
      const int64_t n = rows * W;
      bench::PlainVector([=] {
        for (int64_t i = 0; i < n; ++i) out[i] = float(in[i]);
      });
    }
  });
  ::close(fd);
  benchmark::DoNotOptimize(plane.data());
}

// Loads the file; its plane goes to `plane`.
void LoadOwnRaw(const std::string& f, TPlane& plane) {
  if (!LoadOwnRawFile(1, f, false)) bench::Fail("load failed");
  plane.swap(Store.Image[1].Planes[1]);
  FreeSlot(1);
}

// One worker (as with "Multicores" off) and the default pool of workers.
void BM_OwnRaw16_6000x4000(benchmark::State& state) {
  const std::string& file = RawFile();
  const size_t saved = PictureWorkerThreshold;
  const bool one = state.range(0) == 1;
  if (one) PictureWorkerThreshold = SIZE_MAX;
  // The decoding thread and up to four converting ones.
  const int threads = one ? 1 : 1 + int(std::clamp<unsigned>(std::thread::hardware_concurrency() - 1, 1, 4));
  DetectCpuFeatures();
  ApplySimdSetting();
  TPlane loaded;
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state, [&] { LoadOwnRaw(file, loaded); }, {{"plain", [&] { ReadAndConvert(file, threads); }, 1.5}}, {},
        [&] {
          const std::vector<uint16_t> samples = Samples();
          const std::vector<float> want(samples.begin(), samples.end());
          bench::ExpectNear(loaded, want, 0, "loaded plane");
        });
  });
  PictureWorkerThreshold = saved;
}
ASTRELON_FIGURES(BM_OwnRaw16_6000x4000, "plain");

BENCHMARK(BM_OwnRaw16_6000x4000)->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
