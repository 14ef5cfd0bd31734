// Loading and saving a 6000 x 4000 16-bit TIFF (grey and RGB, uncompressed and
// Deflate) from and to the page cache (/dev/shm when there is one), against
// libtiff alone in the same iterations (figure "libtiff"): loading on one
// thread and on eight against libtiff opening the file and decoding all its
// strips into one buffer (on eight threads of the baseline pool, each with a
// handle of its own and its share of the strips, as our reader splits them);
// saving (one thread; the writer has no threads) against libtiff encoding
// and writing strips of the same size. Goals: uncompressed 2 (ours also
// converts the samples to or from float planes and measures them), Deflate
// 1.2 (the compression dominates).
#include <benchmark/benchmark.h>

#include "band_pool.h"
#include "bench_folder.h"
#include "peer_measure.h"
#include <tiffio.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <filesystem>
#include <string>
#include <vector>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
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

// libtiff alone: every strip decoded into one buffer (not cleared first), the
// strips in bands on `threads` pool threads with a handle each.
void ReadStripsOnly(const std::string& file, int threads) {
  TIFF* tif = TIFFOpen(file.c_str(), "r");
  if (!tif) bench::Fail("libtiff cannot open " + file);
  const size_t stripSize = size_t(TIFFStripSize(tif));
  const uint32_t n = TIFFNumberOfStrips(tif);
  TIFFClose(tif);
  const auto buf = std::make_unique_for_overwrite<uint8_t[]>(stripSize * n);
  std::atomic<bool> failed{false};
  bench::PoolBands(n, std::min<int>(threads, int(n)), [&](int64_t first, int64_t last) {
    TIFF* own = TIFFOpen(file.c_str(), "r");
    if (!own) {
      failed = true;
      return;
    }
    for (int64_t s = first; s < last; ++s)
      if (TIFFReadEncodedStrip(own, uint32_t(s), buf.get() + size_t(s) * stripSize, tmsize_t(-1)) < 0) failed = true;
    TIFFClose(own);
  });
  if (failed) bench::Fail("libtiff could not read " + file);
  benchmark::DoNotOptimize(buf.get());
}

void BM_LoadTiff16(benchmark::State& state) {
  DetectCpuFeatures();  // as at start-up: the SIMD paths of the statistics
  ApplySimdSetting();
  const bool colour = state.range(0) != 0, deflate = state.range(1) != 0;
  const int threads = state.range(2) > 1 ? BandThreads(int64_t(W) * H, int64_t(1) << 19, true) : 1;
  const std::string& file = Prepared(colour, deflate);
  Options.GammaAdjust = 1;
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state,
        [&] {
          if (!LoadTiffImage(1, file)) bench::Fail("load failed");
        },
        {{"libtiff", [&] { ReadStripsOnly(file, threads); }, deflate ? 1.2 : 2.0}}, [] { FreeSlot(1); });
  });
  FreeSlot(1);
}
ASTRELON_FIGURES(BM_LoadTiff16, "libtiff");
BENCHMARK(BM_LoadTiff16)->ArgNames({"rgb", "deflate", "threads"})->ArgsProduct({{0, 1}, {0, 1}, {1, 8}})
    ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

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
  DetectCpuFeatures();  // as at start-up: the SIMD paths of the sample conversion
  ApplySimdSetting();
  const bool colour = state.range(0) != 0, deflate = state.range(1) != 0;
  PutTestImage(3, colour);
  // libtiff gets the samples our writer produces, interleaved, so both compress the same data.
  const TImageSlot& im = Store.Image[3];
  const int samples = colour ? 3 : 1;
  std::vector<uint16_t> data(im.PixelCount() * size_t(samples));
  for (size_t i = 0; i < im.PixelCount(); ++i)
    for (int p = 0; p < samples; ++p) data[i * size_t(samples) + size_t(p)] = FloatToWordSample(im.Planes[p + 1][i]);
  const std::string a = Folder() + "/save_ours.tif", b = Folder() + "/save_libtiff.tif";
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state,
        [&] { SaveTiffImage(3, 1, deflate, 0, 65535, a); },
        {{"libtiff", [&] { WriteStripsOnly(b, colour ? 3 : 1, deflate, data); }, deflate ? 1.2 : 2.0}});
  });
  FreeSlot(3);
}
ASTRELON_FIGURES(BM_SaveTiff16, "libtiff");
BENCHMARK(BM_SaveTiff16)->ArgNames({"rgb", "deflate"})->Args({0, 0})->Args({1, 0})->Args({0, 1})
    ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
