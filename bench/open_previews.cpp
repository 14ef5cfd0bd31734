// 6000 x 4000 pictures: loading a 16-bit own RAW file against a plain loop that
// reads the file and converts its samples to float, and the open dialog's JPEG
// preview against libjpeg's own decode at 1/8 scale, each in the same run. The
// counter "ratio" is our time / the baseline's.
#include <benchmark/benchmark.h>

#include "bench_folder.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "common/file_bytes.h"
#include "platform/processor_features.h"
#include "store/display/display_bitmap.h"
#include "store/display/preview_sampler.h"
#include "store/image_store.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/pictures/jpeg_reader.h"
#include "store/pictures/jpeg_writer.h"
#include "store/raw/own_raw.h"

namespace {

using namespace astrelon;
using Clock = std::chrono::steady_clock;

constexpr int W = 6000, H = 4000;

std::string Folder() {
  static const bench::TBenchFolder folder("previews");
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

const std::string& JpegFile() {
  static const std::string name = [] {
    const std::string f = Folder() + "/big.jpg";
    TDisplayBitmap b;
    b.Resize(W, H, TBitmapFormat::Bgr24);
    uint32_t seed = 1;
    for (int y = 0; y < H; ++y) {
      auto row = b.Row(y);
      for (int x = 0; x < 3 * W; ++x)
        row[size_t(x)] = uint8_t((x / 21 + y / 5) % 200 + ((seed = seed * 1664525u + 1013904223u) >> 28));
    }
    SaveJpegFile(b, 90, false, f);
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

// libjpeg alone: the file into memory and decoded at 1/8 into one RGB buffer.
void DecodeEighth(const std::string& f) {
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
  cinfo.scale_denom = 8;
  jpeg_start_decompress(&cinfo);
  const size_t stride = size_t(cinfo.output_width) * 3;
  std::vector<uint8_t> pixels(stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels.data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  benchmark::DoNotOptimize(pixels.data());
}

void JpegPreview(const std::string& f) {
  TDisplayBitmap bitmap;
  int32_t w = 0, h = 0, fw = 0, fh = 0;
  LoadPicturePreview(
      f, [&](std::span<const uint8_t> data, TPictureSink& sink) { return DecodeJpegPreview(data, sink, fw, fh); },
      bitmap, w, h);
  benchmark::DoNotOptimize(bitmap.Pixels.data());
}

void Compare(benchmark::State& state, const std::string& file, void (*baseline)(const std::string&),
             void (*ours)(const std::string&)) {
  DetectCpuFeatures();
  ApplySimdSetting();
  double a = 0, b = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    baseline(file);
    auto t1 = Clock::now();
    ours(file);
    auto t2 = Clock::now();
    a += std::chrono::duration<double>(t1 - t0).count();
    b += std::chrono::duration<double>(t2 - t1).count();
  }
  state.counters["base_ms"] = 1000 * a / double(state.iterations());
  state.counters["ours_ms"] = 1000 * b / double(state.iterations());
  state.counters["ratio"] = b / a;
}

// One worker (as with "Multicores" off) and the default pool of workers.
void BM_OwnRaw16_6000x4000(benchmark::State& state) {
  const size_t saved = PictureWorkerThreshold;
  if (state.range(0) == 1) PictureWorkerThreshold = SIZE_MAX;
  Compare(state, RawFile(), ReadAndConvert, LoadOwnRaw);
  PictureWorkerThreshold = saved;
}
void BM_JpegPreview6000x4000(benchmark::State& state) { Compare(state, JpegFile(), DecodeEighth, JpegPreview); }

BENCHMARK(BM_OwnRaw16_6000x4000)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_JpegPreview6000x4000)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
