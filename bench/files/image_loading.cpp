// Loading a 6000 x 4000 JPEG and a 16-bit PNG of the same size into a slot,
// against libjpeg's and libpng's own decode of the same file into one buffer,
// in the same iterations. Figures: "libjpeg" / "libpng" the whole load
// (LoadImageFile: decode into float planes, header, display range, histogram)
// over the library's decode, goals 1.5 (JPEG) and 1.3 (PNG, where inflating
// dominates); "convert_libjpeg" / "convert_libpng" our decode into float planes
// alone over the same, goals 1.2 and 1.1. The open dialog's preview (decode at
// 1/8 and sampling into a bitmap) against libjpeg's decode at 1/8: goal 1.5.
// Checks: the planes of the whole load and of our decode alone against the
// library's decode of the file, exactly; the preview against the fingerprint
// of a checked run.
#include <benchmark/benchmark.h>

#include "bench_folder.h"
#include "peer_measure.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "common/file_bytes.h"
#include "platform/processor_features.h"
#include "store/display/display_bitmap.h"
#include "store/display/preview_sampler.h"
#include "store/image_loader.h"
#include "store/image_store.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/pictures/jpeg_reader.h"
#include "store/pictures/jpeg_writer.h"
#include "store/pictures/png_reader.h"

namespace {

using namespace astrelon;
using Clock = std::chrono::steady_clock;

constexpr int W = 6000, H = 4000;

// A picture with smooth structure and some noise, like a photograph.
uint8_t Sample(int x, int y, int c, uint32_t& seed) {
  seed = seed * 1664525u + 1013904223u;
  const int v = (x / 7 + y / 5 + c * 40) % 200 + int(seed >> 28);
  return uint8_t(v);
}

std::string Folder() {
  static const bench::TBenchFolder folder("loading");
  return folder.Path;
}

const std::string& JpegFile() {
  static const std::string name = [] {
    const std::string f = Folder() + "/big.jpg";
    TDisplayBitmap b;
    b.Resize(W, H, TBitmapFormat::Bgr24);
    uint32_t seed = 1;
    for (int y = 0; y < H; ++y) {
      auto row = b.Row(y);
      for (int x = 0; x < W; ++x)
        for (int c = 0; c < 3; ++c) row[size_t(3 * x + c)] = Sample(x, y, c, seed);
    }
    SaveJpegFile(b, 90, false, f);
    return f;
  }();
  return name;
}

const std::string& Png16File() {
  static const std::string name = [] {
    const std::string f = Folder() + "/big16.png";
    FILE* fp = std::fopen(f.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, fp);
    png_set_IHDR(png, info, W, H, 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(size_t(W) * 6);
    uint32_t seed = 2;
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x)
        for (int c = 0; c < 3; ++c) {
          row[size_t(6 * x + 2 * c)] = Sample(x, y, c, seed);
          row[size_t(6 * x + 2 * c + 1)] = uint8_t(seed >> 8);
        }
      png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(fp);
    return f;
  }();
  return name;
}

// The samples of the library's decode of each plane, for the checks.
using TPlaneSamples = std::array<std::vector<float>, 3>;

// The planes of interleaved RGB samples.
template <class T>
TPlaneSamples SplitSamples(const T* samples, size_t pixels) {
  TPlaneSamples planes;
  for (size_t p = 0; p < 3; ++p) {
    planes[p].resize(pixels);
    for (size_t i = 0; i < pixels; ++i) planes[p][i] = float(samples[3 * i + p]);
  }
  return planes;
}

// libjpeg alone: the file into memory and decoded into one RGB buffer (at
// 1/scaleDenom); with `planes`, its samples go there too.
void DecodeWithLibjpeg(const std::string& f, unsigned scaleDenom, TPlaneSamples* planes = nullptr) {
  std::vector<uint8_t> data;
  ReadFileBytes(f, data);
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  cinfo.scale_num = 1;
  cinfo.scale_denom = scaleDenom;
  jpeg_start_decompress(&cinfo);
  const size_t stride = size_t(cinfo.output_width) * 3;
  std::vector<uint8_t> pixels(stride * cinfo.output_height);
  // As many rows per call as the decoder produces at once, as our reader asks for.
  const JDIMENSION rowsPerCall = JDIMENSION(cinfo.rec_outbuf_height > 0 ? cinfo.rec_outbuf_height : 1);
  std::vector<JSAMPROW> rows(rowsPerCall);
  while (cinfo.output_scanline < cinfo.output_height) {
    for (JDIMENSION i = 0; i < rowsPerCall; ++i)
      rows[i] = pixels.data() + stride * std::min<size_t>(cinfo.output_scanline + i, cinfo.output_height - 1);
    jpeg_read_scanlines(&cinfo, rows.data(), rowsPerCall);
  }
  if (planes) *planes = SplitSamples(pixels.data(), size_t(cinfo.output_width) * cinfo.output_height);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  benchmark::DoNotOptimize(pixels.data());
}

// libpng alone: the file decoded row by row into one buffer of 16-bit samples;
// with `planes`, its samples go there too.
void DecodeWithLibpng(const std::string& f, TPlaneSamples* planes = nullptr) {
  FILE* fp = std::fopen(f.c_str(), "rb");
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, fp);
  png_read_info(png, info);
  png_set_swap(png);
  png_read_update_info(png, info);
  const size_t stride = png_get_rowbytes(png, info);
  const png_uint_32 h = png_get_image_height(png, info);
  std::vector<uint8_t> pixels(stride * h);
  for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, pixels.data() + stride * y, nullptr);
  if (planes) {
    std::vector<uint16_t> samples(pixels.size() / 2);
    std::memcpy(samples.data(), pixels.data(), samples.size() * 2);
    *planes = SplitSamples(samples.data(), samples.size() / 3);
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(fp);
  benchmark::DoNotOptimize(pixels.data());
}

// The planes of slot 1 (moved out of it).
TPlaneSamples TakePlanes() {
  TPlaneSamples planes;
  for (size_t p = 0; p < 3; ++p) {
    const TPlane& plane = Store.Image[1].Planes[std::min<size_t>(p + 1, size_t(Store.Image[1].PlaneCount))];
    planes[p].assign(plane.begin(), plane.end());
  }
  return planes;
}

// Our decode into float planes alone (no header, display range or histogram),
// whose planes go to `planes`.
void ConvertJpeg(const std::string& f, TPlaneSamples& planes) {
  std::vector<uint8_t> data;
  ReadFileBytes(f, data);
  TPictureSink sink;
  if (!DecodeJpeg(data, false, 1, sink)) bench::Fail("JPEG decode failed");
  sink.Stop();
  planes = TakePlanes();
  FreeSlot(1);
}
void ConvertPng(const std::string& f, TPlaneSamples& planes) {
  std::vector<uint8_t> data;
  ReadFileBytes(f, data);
  TPictureSink sink;
  if (!DecodePng(data, 1, sink)) bench::Fail("PNG decode failed");
  sink.Stop();
  planes = TakePlanes();
  FreeSlot(1);
}

// The whole load ("ms") and our decode alone, each against the library's decode.
void Compare(benchmark::State& state, const std::string& file, const char* library,
             void (*baseline)(const std::string&, TPlaneSamples*), void (*convert)(const std::string&, TPlaneSamples&),
             double goal, double convertGoal) {
  DetectCpuFeatures();  // as at start-up: the SIMD paths of the statistics
  ApplySimdSetting();
  double load = 1e30, base = 1e30, conv = 1e30;
  TPlaneSamples loaded, converted;
  for (auto _ : state) {
    if (!bench::Timed(
            state, [&] { baseline(file, nullptr); }, base))
      break;
    double run = 1e30;
    if (!bench::Timed(
            state,
            [&] {
              if (!LoadImageFile(1, file)) bench::Fail("load failed");
            },
            run))
      break;
    loaded = TakePlanes();
    FreeSlot(1);
    load = std::min(load, run);
    state.SetIterationTime(run);
    if (!bench::Timed(
            state, [&] { convert(file, converted); }, conv))
      break;
  }
  if (state.error_occurred() || !bench::Verified(state, [&] {
        TPlaneSamples theirs;
        baseline(file, &theirs);
        for (size_t p = 0; p < 3; ++p) {
          bench::ExpectNear(loaded[p], theirs[p], 0, "loaded plane " + std::to_string(p + 1));
          bench::ExpectNear(converted[p], theirs[p], 0, "decoded plane " + std::to_string(p + 1));
        }
      }))
    return;
  state.counters["ms"] = load * 1e3;
  bench::ReportFigure(state, library, load, base, goal);
  bench::ReportFigure(state, std::string("convert_") + library, conv, base, convertGoal, true);
}

void DecodeWithLibjpeg(const std::string& f, TPlaneSamples* planes) { DecodeWithLibjpeg(f, 1, planes); }

void BM_LoadJpeg6000x4000(benchmark::State& state) {
  Compare(state, JpegFile(), "libjpeg", DecodeWithLibjpeg, ConvertJpeg, 1.5, 1.2);
}
void BM_LoadPng16_6000x4000(benchmark::State& state) {
  Compare(state, Png16File(), "libpng", DecodeWithLibpng, ConvertPng, 1.3, 1.1);
}
ASTRELON_FIGURES(BM_LoadJpeg6000x4000, "libjpeg", "convert_libjpeg");
ASTRELON_FIGURES(BM_LoadPng16_6000x4000, "libpng", "convert_libpng");

// The open dialog's preview of the same JPEG (read, decoded at 1/8 and sampled
// into a bitmap) against libjpeg's decode at 1/8.
void BM_JpegPreview6000x4000(benchmark::State& state) {
  const std::string& f = JpegFile();
  TDisplayBitmap bitmap;
  bench::Measure(
      state,
      [&] {
        bitmap = TDisplayBitmap();
        int32_t w = 0, h = 0, fw = 0, fh = 0;
        const auto decode = [&](std::span<const uint8_t> data, TPictureSink& sink) {
          return DecodeJpegPreview(data, sink, fw, fh);
        };
        if (!LoadPicturePreview(f, decode, bitmap, w, h)) bench::Fail("preview failed");
      },
      {{"libjpeg", [&] { DecodeWithLibjpeg(f, 8); }, 1.5}}, {},
      [&] {
        const std::vector<float> bytes(bitmap.Pixels.begin(), bitmap.Pixels.end());
        bench::ExpectFingerprint(
            bench::Fingerprint({bytes}),
            {1126000, 0, 0, 209, 106.9315968, 57.22201733, 0.00168916436, 0.0009893163453, 73.81538083}, "preview");
      });
}
ASTRELON_FIGURES(BM_JpegPreview6000x4000, "libjpeg");

BENCHMARK(BM_LoadJpeg6000x4000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_JpegPreview6000x4000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_LoadPng16_6000x4000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
