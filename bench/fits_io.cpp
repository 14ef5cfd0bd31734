// Reading and writing a 4096 x 4096 FITS image (BITPIX 16 and -32) from and to
// the page cache (/dev/shm when there is one), against cfitsio doing the same in
// the same run: fits_read_pix into a new float buffer, fits_write_pix from the
// float plane with the same scaling.
// Reading: "read" is the file into new float planes (what cfitsio does), "load"
// is LoadFits, which also sets up the slot's statistics, histogram and display
// range; "peak_extra_MB" is the peak memory of LoadFits beyond the plane.
// Writing: SaveFits (statistics, cards, pixels, atomic replacement) against
// cfitsio writing the same plane. Ratios are ours / cfitsio.
#include <benchmark/benchmark.h>

#include "bench_folder.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fitsio.h>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "platform/processor_features.h"
#include "store/fits/fits_reader.h"
#include "store/fits/fits_writer.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace {

using namespace astrelon;
using Clock = std::chrono::steady_clock;

constexpr int N = 4096;

const std::string& Folder() {
  static const bench::TBenchFolder folder("fits");
  return folder.Path;
}

// A star field: background with noise, a gradient and a few bright spots.
void PutTestImage(int slot) {
  TImageSlot& im = Store.Image[slot];
  im.Width = N;
  im.Height = N;
  im.PlaneCount = 1;
  im.IsColor = 0;
  im.AllocatePlanes(1);
  uint32_t seed = 12345;
  for (int y = 0; y < N; ++y)
    for (int x = 0; x < N; ++x) {
      seed = seed * 1664525u + 1013904223u;
      float v = 1000.0f + float(x + y) * 0.5f + float(seed >> 24) * 0.25f;
      if ((x % 257) < 3 && (y % 263) < 3) v += 40000.0f;
      im.At(1, x, y) = v;
    }
  Store.InUse[slot] = 1;
  MakeDefaultHeader(slot);
}

// The SIMD switches as the program sets them at start-up.
void SetUpSimd() {
  static const bool done = [] {
    DetectCpuFeatures();
    ApplySimdSetting();
    return true;
  }();
  (void)done;
}

std::string FileFor(int bitpix) { return Folder() + (bitpix == 16 ? "/image16.fit" : "/imagef32.fit"); }

const std::string& Prepared(int bitpix) {
  static std::string files[2];
  std::string& f = files[bitpix == 16 ? 0 : 1];
  if (f.empty()) {
    PutTestImage(2);
    f = FileFor(bitpix);
    SaveFits(2, bitpix, f, false, false);
    FreeSlot(2);
  }
  return f;
}

uint64_t StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stoull(line.substr(std::string(key).size()));
  return 0;
}

// Resets the peak resident size (VmHWM) to the current one.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void CfitsioRead(const std::string& file) {
  fitsfile* f = nullptr;
  int status = 0, anynul = 0;
  fits_open_file(&f, file.c_str(), READONLY, &status);
  std::vector<float> plane(size_t(N) * N);
  long first[2] = {1, 1};
  fits_read_pix(f, TFLOAT, first, long(plane.size()), nullptr, plane.data(), &anynul, &status);
  fits_close_file(f, &status);
  benchmark::DoNotOptimize(plane.data());
}

void CfitsioWrite(const std::string& file, int bitpix, const TFitsScalePlan& plan, TPlane& plane) {
  fitsfile* f = nullptr;
  int status = 0;
  const std::string name = "!" + file;
  fits_create_file(&f, name.c_str(), &status);
  long naxes[2] = {N, N};
  fits_create_img(f, bitpix, 2, naxes, &status);
  if (bitpix == 16) {
    double bs = plan.Bscale, bz = plan.Bzero;
    fits_write_key(f, TDOUBLE, "BZERO", &bz, nullptr, &status);
    fits_write_key(f, TDOUBLE, "BSCALE", &bs, nullptr, &status);
    fits_set_bscale(f, bs, bz, &status);
  }
  long first[2] = {1, 1};
  fits_write_pix(f, TFLOAT, first, long(plane.size()), plane.data(), &status);
  fits_close_file(f, &status);
}

void ReadPlanes(const std::string& file) {
  TFitsFile f;
  TFitsPlanes planes;
  if (!OpenFitsFile(file, f) || ReadFitsPlanes(f, true, planes) != TFitsReadStatus::Ok) std::abort();
  benchmark::DoNotOptimize(planes[1].data());
}

void BM_Read(benchmark::State& state, int bitpix) {
  SetUpSimd();
  Options.FitsFlip = 1;
  const std::string& file = Prepared(bitpix);
  SetEngineUi(nullptr);
  double read = 0, load = 0, base = 0, extraMb = 0;
  for (auto _ : state) {
    FreeSlot(1);
    const uint64_t before = StatusKb("VmRSS:");
    ResetPeak();
    const auto t0 = Clock::now();
    if (!LoadFits(1, file, false)) state.SkipWithError("load failed");
    const auto t1 = Clock::now();
    const double peak = double(StatusKb("VmHWM:"));
    extraMb = std::max(extraMb, (peak - double(before)) / 1024.0 - double(N) * N * 4 / (1 << 20));
    FreeSlot(1);
    const auto t2 = Clock::now();
    ReadPlanes(file);
    const auto t3 = Clock::now();
    CfitsioRead(file);
    const auto t4 = Clock::now();
    load += std::chrono::duration<double>(t1 - t0).count();
    read += std::chrono::duration<double>(t3 - t2).count();
    base += std::chrono::duration<double>(t4 - t3).count();
  }
  state.counters["read_ms"] = 1000 * read / double(state.iterations());
  state.counters["load_ms"] = 1000 * load / double(state.iterations());
  state.counters["cfitsio_ms"] = 1000 * base / double(state.iterations());
  state.counters["read_ratio"] = read / base;
  state.counters["load_ratio"] = load / base;
  state.counters["peak_extra_MB"] = extraMb;
}

void BM_Write(benchmark::State& state, int bitpix) {
  SetUpSimd();
  Options.FitsFlip = 1;
  PutTestImage(1);
  UpdateMinMax(1);
  const TFitsScalePlan plan = PlanFitsScaling(bitpix, Store.Image[1].MinValue, Store.Image[1].MaxValue, false);
  const std::string ourFile = Folder() + "/written.fit", theirFile = Folder() + "/written_cfitsio.fit";
  double ours = 0, base = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    if (!SaveFits(1, bitpix, ourFile, false, false)) state.SkipWithError("save failed");
    const auto t1 = Clock::now();
    CfitsioWrite(theirFile, bitpix, plan, Store.Image[1].Planes[1]);
    const auto t2 = Clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    base += std::chrono::duration<double>(t2 - t1).count();
  }
  FreeSlot(1);
  state.counters["ours_ms"] = 1000 * ours / double(state.iterations());
  state.counters["cfitsio_ms"] = 1000 * base / double(state.iterations());
  state.counters["ratio"] = ours / base;
}

BENCHMARK_CAPTURE(BM_Read, bitpix16, 16)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(BM_Read, bitpix_m32, -32)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(BM_Write, bitpix16, 16)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(BM_Write, bitpix_m32, -32)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
