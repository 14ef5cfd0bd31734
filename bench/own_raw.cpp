// Loading a 6000 x 4000 16-bit own RAW file against a plain loop that reads the
// file and converts its samples to float, in the same run. The counter "ratio"
// is load time / loop time.
#include <benchmark/benchmark.h>

#include "bench_folder.h"

#include <chrono>
#include <cstdio>
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

const std::string& RawFile() {
  static const std::string name = [] {
    const std::string f = Folder() + "/big.raw";
    std::vector<uint16_t> samples(size_t(W) * H);
    uint32_t seed = 3;
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint16_t((seed = seed * 1664525u + 1013904223u) >> 16);
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

// The file read in blocks and its little-endian samples converted into one float plane.
void ReadAndConvert(const std::string& f) {
  FILE* fp = std::fopen(f.c_str(), "rb");
  std::fseek(fp, 512, SEEK_SET);
  std::vector<float> plane(size_t(W) * H);
  std::vector<uint16_t> block(size_t(1) << 19);
  for (size_t done = 0; done < plane.size();) {
    const size_t n = std::fread(block.data(), 2, std::min(block.size(), plane.size() - done), fp);
    for (size_t i = 0; i < n; ++i) plane[done + i] = float(block[i]);
    done += n;
    if (n == 0) break;
  }
  std::fclose(fp);
  benchmark::DoNotOptimize(plane.data());
}

void LoadOwnRaw(const std::string& f) {
  LoadOwnRawFile(1, f, false);
  FreeSlot(1);
}

// One worker (as with "Multicores" off) and the default pool of workers.
void BM_OwnRaw16_6000x4000(benchmark::State& state) {
  const std::string& file = RawFile();
  const size_t saved = PictureWorkerThreshold;
  if (state.range(0) == 1) PictureWorkerThreshold = SIZE_MAX;
  DetectCpuFeatures();
  ApplySimdSetting();
  double a = 0, b = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    ReadAndConvert(file);
    auto t1 = Clock::now();
    LoadOwnRaw(file);
    auto t2 = Clock::now();
    a += std::chrono::duration<double>(t1 - t0).count();
    b += std::chrono::duration<double>(t2 - t1).count();
  }
  state.counters["base_ms"] = 1000 * a / double(state.iterations());
  state.counters["ours_ms"] = 1000 * b / double(state.iterations());
  state.counters["ratio"] = b / a;
  PictureWorkerThreshold = saved;
}

BENCHMARK(BM_OwnRaw16_6000x4000)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
