// Loading and saving a 6000 x 4000 16-bit TIFF (grey and RGB, uncompressed and
// Deflate) from and to the page cache (/dev/shm when there is one), against
// libtiff alone in the same run: opening the file and decoding all its strips
// into one buffer, or encoding and writing strips of the same size. Counters: our
// time, libtiff's, and their ratio (ours / libtiff).
#include <benchmark/benchmark.h>

#include "bench_folder.h"
#include <tiffio.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "platform/processor_features.h"
#include "store/image_store.h"
#include "store/tiff/tiff_reader.h"
#include "store/tiff/tiff_writer.h"

namespace {

using namespace astrelon;
using Clock = std::chrono::steady_clock;

constexpr int W = 6000, H = 4000;

std::string Folder() {
  static const bench::TBenchFolder folder("tiff");
  return folder.Path;
}

void PutTestImage(int slot, bool colour) {
  TImageSlot& im = Store.Image[slot];
  im.Width = W;
  im.Height = H;
  im.IsColor = colour;
  im.PlaneCount = colour ? 3 : 1;
  im.AllocatePlanes(im.PlaneCount);
  uint32_t seed = 4711;
  for (int p = 1; p <= im.PlaneCount; ++p)
    for (size_t i = 0; i < im.PixelCount(); ++i) {
      seed = seed * 1664525u + 1013904223u;
      im.Planes[p][i] = float(i % W) * 5.0f + float(p * 3000) + float(seed >> 26);
    }
  Store.InUse[slot] = 1;
}

std::string FileName(bool colour, bool deflate) {
  return Folder() + "/image16" + (colour ? "rgb" : "grey") + (deflate ? "_zip" : "") + ".tif";
}

const std::string& Prepared(bool colour, bool deflate) {
  static std::string files[4];
  std::string& f = files[(colour ? 2 : 0) + (deflate ? 1 : 0)];
  if (f.empty()) {
    PutTestImage(2, colour);
    f = FileName(colour, deflate);
    SaveTiffImage(2, 1, deflate, 0, 65535, f);
    FreeSlot(2);
  }
  return f;
}

// libtiff alone: every strip decoded into one buffer.
void ReadStripsOnly(const std::string& file) {
  TIFF* tif = TIFFOpen(file.c_str(), "r");
  std::vector<uint8_t> buf(size_t(TIFFStripSize(tif)));
  const uint32_t n = TIFFNumberOfStrips(tif);
  for (uint32_t s = 0; s < n; ++s) TIFFReadEncodedStrip(tif, s, buf.data(), tmsize_t(-1));
  benchmark::DoNotOptimize(buf.data());
  TIFFClose(tif);
}

void BM_LoadTiff16(benchmark::State& state) {
  DetectCpuFeatures();  // as at start-up: the SIMD paths of the statistics
  ApplySimdSetting();
  const bool colour = state.range(0) != 0, deflate = state.range(1) != 0;
  const std::string& file = Prepared(colour, deflate);
  Options.GammaAdjust = 1;
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    ReadStripsOnly(file);
    auto t1 = Clock::now();
    if (!LoadTiffImage(1, file)) state.SkipWithError("load failed");
    auto t2 = Clock::now();
    theirs += std::chrono::duration<double>(t1 - t0).count();
    ours += std::chrono::duration<double>(t2 - t1).count();
    state.PauseTiming();
    FreeSlot(1);
    state.ResumeTiming();
  }
  const double n = double(state.iterations());
  state.counters["ours_ms"] = ours / n * 1e3;
  state.counters["libtiff_ms"] = theirs / n * 1e3;
  state.counters["ratio"] = ours / theirs;
}
BENCHMARK(BM_LoadTiff16)->ArgNames({"rgb", "deflate"})->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})
    ->Unit(benchmark::kMillisecond)->Iterations(5);

// libtiff alone: strips of the same size written from a ready buffer.
void WriteStripsOnly(const std::string& file, int samples, bool deflate, const std::vector<uint16_t>& data) {
  TIFF* tif = TIFFOpen(file.c_str(), "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(W));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(H));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(samples));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, deflate ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
  const int rps = 65536 / (W * samples * 2);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(rps));
  const size_t rowSamples = size_t(W) * size_t(samples);
  for (int y = 0, s = 0; y < H; y += rps, ++s) {
    const int rows = std::min(rps, H - y);
    TIFFWriteEncodedStrip(tif, uint32_t(s), const_cast<uint16_t*>(data.data() + size_t(y) * rowSamples),
                          tmsize_t(rows * rowSamples * 2));
  }
  TIFFClose(tif);
}

void BM_SaveTiff16(benchmark::State& state) {
  const bool colour = state.range(0) != 0, deflate = state.range(1) != 0;
  PutTestImage(3, colour);
  // libtiff gets the samples our writer produces, interleaved, so both compress the same data.
  const TImageSlot& im = Store.Image[3];
  const int samples = colour ? 3 : 1;
  std::vector<uint16_t> data(im.PixelCount() * size_t(samples));
  for (size_t i = 0; i < im.PixelCount(); ++i)
    for (int p = 0; p < samples; ++p) data[i * size_t(samples) + size_t(p)] = FloatToWordSample(im.Planes[p + 1][i]);
  const std::string a = Folder() + "/save_ours.tif", b = Folder() + "/save_libtiff.tif";
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    WriteStripsOnly(b, colour ? 3 : 1, deflate, data);
    auto t1 = Clock::now();
    SaveTiffImage(3, 1, deflate, 0, 65535, a);
    auto t2 = Clock::now();
    theirs += std::chrono::duration<double>(t1 - t0).count();
    ours += std::chrono::duration<double>(t2 - t1).count();
  }
  FreeSlot(3);
  const double n = double(state.iterations());
  state.counters["ours_ms"] = ours / n * 1e3;
  state.counters["libtiff_ms"] = theirs / n * 1e3;
  state.counters["ratio"] = ours / theirs;
}
BENCHMARK(BM_SaveTiff16)->ArgNames({"rgb", "deflate"})->Args({0, 0})->Args({1, 0})->Args({0, 1})
    ->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
