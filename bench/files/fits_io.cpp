// Reading and writing a 4096 x 4096 FITS image (BITPIX 16 and -32) from and to
// the page cache (/dev/shm when there is one), against two baselines timed in
// the same iterations: cfitsio as users run it (fits_read_pix into a new float
// buffer, fits_write_pix from the float plane with the same scaling; cfitsio
// has one thread), and a plain conversion of the same bytes on as many threads
// as ours (the baseline pool: positioned reads and a byte swap into a new float
// buffer; a byte swap into one buffer written with one call; the conversions
// vectorised for the machine). No buffer is cleared before it is filled. The argument is the number of threads (1:
// "Multicores" off); "workers" is the number the machine gives.
// Reading: "read" (ReadFitsPlanes, the file into new float planes) against
// cfitsio (figure "cfitsio", goal 1.0 on one thread, 0.5 on eight) and the plain
// read ("plain", goal 1.5 and 2.0); "load" (LoadFits, which also sets up the
// slot's statistics, histogram and display range) against cfitsio
// ("load_cfitsio", goal 1.2 and 0.6). "peak_extra_MB" is the peak memory of
// LoadFits beyond the plane.
// Writing: SaveFits (statistics, cards, pixels, atomic replacement) against
// cfitsio ("cfitsio", goal 1.0 and 0.5) and the plain write ("plain", 1.5 and 2.0).
// Checks (with "Fits umdrehen" on, rows keep the order cfitsio reads them in):
// the planes read and loaded against cfitsio's read of the file (exactly for
// -32, within 0.001 for 16 bits); the file written, read back by cfitsio,
// against the image (exactly for -32, within half a scaling step for 16 bits).
#include <benchmark/benchmark.h>

#include "band_pool.h"
#include "bench_folder.h"
#include "peer_measure.h"
#include "plain_loops.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <fitsio.h>
#include <unistd.h>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/fits/fits_layout.h"
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
  const auto plane = std::make_unique_for_overwrite<float[]>(size_t(N) * N);
  long first[2] = {1, 1};
  fits_read_pix(f, TFLOAT, first, long(N) * N, nullptr, plane.get(), &anynul, &status);
  fits_close_file(f, &status);
  if (status != 0) bench::Fail("cfitsio could not read " + file);
  benchmark::DoNotOptimize(plane.get());
}

// cfitsio's read of the file.
std::vector<float> CfitsioPlane(const std::string& file) {
  fitsfile* f = nullptr;
  int status = 0, anynul = 0;
  std::vector<float> plane(size_t(N) * N);
  long first[2] = {1, 1};
  fits_open_file(&f, file.c_str(), READONLY, &status);
  fits_read_pix(f, TFLOAT, first, long(N) * N, nullptr, plane.data(), &anynul, &status);
  fits_close_file(f, &status);
  if (status != 0) bench::Fail("cfitsio could not read " + file);
  return plane;
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
  if (status != 0) bench::Fail("cfitsio could not write " + file);
}

void ReadPlanes(const std::string& file, int threads, TFitsPlanes& planes) {
  TFitsFile f;
  std::array<TMinMaxScan, 4> scans;
  if (!OpenFitsFile(file, f) || ReadFitsPlanes(f, true, threads, planes, scans) != TFitsReadStatus::Ok)
    bench::Fail("read failed");
  benchmark::DoNotOptimize(planes[1].data());
}

// The big-endian samples of `count` values as physical values (BSCALE and
// BZERO applied): a plain loop, vectorised for the machine.
void PlainSamples(const uint8_t* raw, float* dst, size_t count, int bitpix, float bscale, float bzero) {
  bench::PlainVector([=] {
    if (bitpix == 16) {
      for (size_t i = 0; i < count; ++i) dst[i] = float(int16_t(LoadBe16(raw + 2 * i))) * bscale + bzero;
    } else {
      for (size_t i = 0; i < count; ++i) dst[i] = std::bit_cast<float>(LoadBe32(raw + 4 * i));
    }
  });
}

// The plain read: bands of rows on threads, each reading its bytes in pieces of
// a quarter megabyte and converting them into a new float buffer.
void PlainRead(const std::string& file, int bitpix, int threads) {
  const int fd = ::open(file.c_str(), O_RDONLY);
  TFitsFile f;
  if (fd < 0 || !OpenFitsFile(file, f) || !f.Layout) std::abort();
  const uint64_t offset = f.Layout->DataOffset;
  const float bscale = float(f.Info.Bscale), bzero = float(f.Info.Bzero);
  const int bpp = bitpix == 16 ? 2 : 4;
  TPlane plane(size_t(N) * N);
  bench::PoolBands(N, threads, [&](int64_t first, int64_t last) {
    const size_t rowsPerRead = std::max<size_t>(1, (size_t(1) << 18) / (size_t(N) * bpp));
    std::vector<uint8_t> raw(rowsPerRead * N * bpp);
    for (int64_t y = first; y < last; y += int64_t(rowsPerRead)) {
      const size_t rows = std::min<size_t>(rowsPerRead, size_t(last - y));
      const size_t bytes = rows * N * bpp;
      if (::pread(fd, raw.data(), bytes, off_t(offset + uint64_t(y) * N * bpp)) != ssize_t(bytes)) std::abort();
      PlainSamples(raw.data(), plane.data() + size_t(y) * N, rows * N, bitpix, bscale, bzero);
    }
  });
  ::close(fd);
  benchmark::DoNotOptimize(plane.data());
}

// The plain write: the header and the byte-swapped samples in one buffer
// (converted in bands on threads, vectorised for the machine), written with
// one call.
void PlainWrite(const std::string& file, int bitpix, const TFitsScalePlan& plan, const TPlane& plane, int threads) {
  const int bpp = bitpix == 16 ? 2 : 4;
  const size_t data = size_t(N) * N * bpp;
  std::vector<uint8_t, TDefaultInitAllocator<uint8_t>> out(FitsBlockRoundUp(data) + FitsBlockSize);
  std::fill_n(out.begin(), FitsBlockSize, uint8_t(' '));
  uint8_t* const dst = out.data() + FitsBlockSize;
  const float* const v = plane.data();
  const double s = plan.Bscale > 0 ? 1.0 / plan.Bscale : 1.0, zero = plan.Bzero;
  bench::PlainBands(int64_t(N) * N, threads, [=](int64_t first, int64_t last) {
    // Locals: the byte stores could otherwise change what the lambda captured.
    uint8_t* const d = dst;
    const float* const x = v;
    const double scale = s, offset = zero;
    if (bitpix == 16) {
      for (int64_t i = first; i < last; ++i)
        StoreBe16(d + 2 * i, uint16_t(int16_t(std::nearbyint((double(x[i]) - offset) * scale))));
    } else {
      for (int64_t i = first; i < last; ++i) StoreBe32(d + 4 * i, std::bit_cast<uint32_t>(x[i]));
    }
  });
  std::fill(out.begin() + ptrdiff_t(FitsBlockSize + data), out.end(), uint8_t(0));
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::write(fd, out.data(), out.size()) != ssize_t(out.size())) std::abort();
  ::close(fd);
}

// Sets the thread switch for a run and reports the threads the machine gives.
int UseThreads(benchmark::State& state) {
  const int threads = int(state.range(0));
  Options.Multicore = threads > 1 ? 1 : 0;
  state.counters["workers"] = BandThreads(int64_t(N) * N, 1, threads > 1);
  return threads;
}

void BM_Read(benchmark::State& state, int bitpix) {
  SetUpSimd();
  Options.FitsFlip = 1;
  const int threads = UseThreads(state);
  const std::string& file = Prepared(bitpix);
  SetEngineUi(nullptr);
  double read = 1e30, load = 1e30, base = 1e30, plain = 1e30, extraMb = 0;
  TFitsPlanes planes;
  TPlane loaded;
  for (auto _ : state) {
    FreeSlot(1);
    planes = {};
    const uint64_t before = StatusKb("VmRSS:");
    ResetPeak();
    const auto t0 = Clock::now();
    if (!LoadFits(1, file, false)) {
      state.SkipWithError("load failed");
      break;
    }
    load = std::min(load, bench::Seconds(t0));
    const double peak = double(StatusKb("VmHWM:"));
    extraMb = std::max(extraMb, (peak - double(before)) / 1024.0 - double(N) * N * 4 / (1 << 20));
    loaded.swap(Store.Image[1].Planes[1]);
    FreeSlot(1);
    if (!bench::Timed(state, [&] { CfitsioRead(file); }, base) ||
        !bench::Timed(state, [&] { PlainRead(file, bitpix, threads); }, plain))
      break;
    double run = 1e30;
    if (!bench::Timed(
            state, [&] { ReadPlanes(file, threads, planes); }, run))
      break;
    read = std::min(read, run);
    state.SetIterationTime(run);
  }
  if (state.error_occurred() || !bench::Verified(state, [&] {
        const std::vector<float> theirs = CfitsioPlane(file);
        const double tolerance = bitpix == 16 ? 1e-3 : 0;
        bench::ExpectNear(planes[1], theirs, tolerance, "planes read against cfitsio's");
        bench::ExpectNear(loaded, theirs, tolerance, "plane loaded against cfitsio's");
      }))
    return;
  const bool many = threads > 1;
  state.counters["ms"] = read * 1e3;
  bench::ReportFigure(state, "cfitsio", read, base, many ? 0.5 : 1.0);
  bench::ReportFigure(state, "plain", read, plain, many ? 2.0 : 1.5);
  bench::ReportFigure(state, "load_cfitsio", load, base, many ? 0.6 : 1.2, true);
  state.counters["peak_extra_MB"] = extraMb;
}

void BM_Write(benchmark::State& state, int bitpix) {
  SetUpSimd();
  Options.FitsFlip = 1;
  const int threads = UseThreads(state);
  PutTestImage(1);
  UpdateMinMax(1);
  const TFitsScalePlan plan = PlanFitsScaling(bitpix, Store.Image[1].MinValue, Store.Image[1].MaxValue, false);
  const std::string ourFile = Folder() + "/written.fit", theirFile = Folder() + "/written_cfitsio.fit",
                    plainFile = Folder() + "/written_plain.fit";
  const bool many = threads > 1;
  bench::Measure(
      state,
      [&] {
        if (!SaveFits(1, bitpix, ourFile, false, false)) bench::Fail("save failed");
      },
      {{"cfitsio", [&] { CfitsioWrite(theirFile, bitpix, plan, Store.Image[1].Planes[1]); }, many ? 0.5 : 1.0},
       {"plain", [&] { PlainWrite(plainFile, bitpix, plan, Store.Image[1].Planes[1], threads); }, many ? 2.0 : 1.5}},
      {},
      [&] {
        bench::ExpectNear(CfitsioPlane(ourFile), Store.Image[1].Planes[1], bitpix == 16 ? 0.51 * plan.Bscale : 0,
                          "file written, read back by cfitsio");
      });
  FreeSlot(1);
}

ASTRELON_FIGURES(BM_Read, "cfitsio", "plain", "load_cfitsio");
ASTRELON_FIGURES(BM_Write, "cfitsio", "plain");
BENCHMARK_CAPTURE(BM_Read, bitpix16, 16)->ArgName("threads")->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK_CAPTURE(BM_Read, bitpix_m32, -32)->ArgName("threads")->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK_CAPTURE(BM_Write, bitpix16, 16)->ArgName("threads")->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK_CAPTURE(BM_Write, bitpix_m32, -32)->ArgName("threads")->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

}  // namespace
