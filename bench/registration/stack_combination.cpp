// Stack combination of 20 frames of 4096 x 3072 (or the size ASTRELON_STACK_FRAME
// gives) in 16-bit FITS (BITPIX 16, BZERO 32768, BSCALE 1; stars, noise and a
// satellite trail in one frame) by Sigma and Median, on one thread and on all
// cores, against siril-cli stacking the same files at the same thread count
// ("stack rej s 3 3" and "stack med", no normalisation; its own "Execution
// time" line of the stack, which includes writing its result; warm page
// cache). Ours is timed the same way: the stack and its result written as
// 32-bit float FITS. Siril runs in a folder of its own per repetition, holding
// links to the frames and nothing else. The peer fails, and the benchmark with
// it, when Siril reports an error, writes no result, or its result differs from
// ours by more than the tolerance, judged on the 99th percentile of |ours -
// Siril's| over the image: for Median (the same statistic) at most 0.5 ADU;
// for Sigma at most 8 ADU, since our RobustMean and Siril's iterated 3-sigma
// clipping reject differently near the limit (a checked run: median 0.025,
// 99th percentile 5.5 ADU, the differences spread over about 2 % of the sky,
// each a rejected sample's share of the mean). Both must take the satellite
// trail out: its residual above the background at most 10 ADU (1450 when it
// stays in). Figure "siril" (goal 0.7). Counters beside it: the trail's
// residual, the median and 99th percentile of the difference to Siril's, and
// the process's peak resident memory during our run ("peak_mb";
// "peak_per_result" in multiples of the result's size).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bench_folder.h"
#include "common/atomic_file.h"
#include "core/batch_series.h"
#include "core/settings.h"
#include "peer_measure.h"
#include "platform/processor_features.h"
#include "registration/stacking/combine_image_stack.h"
#include "store/fits/fits_layout.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"

namespace astrelon::bench {
namespace {

// Frame size: 4096 x 3072, or "<width>x<height>" from ASTRELON_STACK_FRAME
// (6000x4000 for the 24-megapixel run of the peak memory).
struct TFrameSize {
  int W = 4096, H = 3072;
};
TFrameSize FrameSize() {
  TFrameSize s;
  const char* e = std::getenv("ASTRELON_STACK_FRAME");
  int w = 0, h = 0;
  if (e && std::sscanf(e, "%dx%d", &w, &h) == 2 && w >= 64 && h >= 64 && w <= 20000 && h <= 20000) s = {w, h};
  return s;
}
const TFrameSize Size = FrameSize();
const int W = Size.W, H = Size.H;
constexpr int Frames = 20, TrailFrame = 7;

// The process's peak resident memory since the last ResetPeakMemory, in MB
// (Linux; 0 where it cannot be read).
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
double PeakMemoryMb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmHWM:")) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}
constexpr float Background = 1000;
// The 99th percentile of |ours - Siril's| allowed: Median, Sigma (see above).
constexpr double MedianTolerance = 0.5, SigmaTolerance = 8.0;
// The trail's residual allowed.
constexpr double TrailTolerance = 10.0;

bool TrailPixel(int x, int y) { return std::abs(y - (300 + x / 2)) <= 1; }

// A FITS card: the keyword, "= " and the value right-justified to column 30.
std::string Card(const std::string& key, const std::string& value) {
  std::string c = key;
  c.resize(8, ' ');
  c += "= ";
  c += std::string(value.size() < 20 ? 20 - value.size() : 0, ' ') + value;
  c.resize(80, ' ');
  return c;
}

// Writes whole numbers 0..65535 as unsigned 16-bit FITS (BZERO 32768).
bool WriteUnsigned16(const std::string& file, const std::vector<float>& v) {
  std::string header = Card("SIMPLE", "T") + Card("BITPIX", "16") + Card("NAXIS", "2") +
                       Card("NAXIS1", std::to_string(W)) + Card("NAXIS2", std::to_string(H)) +
                       Card("BZERO", "32768") + Card("BSCALE", "1");
  header += std::string("END").append(77, ' ');
  header.resize(FitsBlockRoundUp(header.size()), ' ');
  std::vector<uint8_t> data(FitsBlockRoundUp(v.size() * 2), 0);
  for (size_t k = 0; k < v.size(); ++k) StoreBe16(data.data() + 2 * k, uint16_t(int32_t(v[k]) - 32768));
  TAtomicFile f;
  return f.Open(file) && f.Write(header) && f.Write(std::as_bytes(std::span(data))) && f.Commit();
}

struct TStackFiles {
  TBenchFolder Folder{"stack"};
  std::vector<std::string> Names;
  TStackFiles() {
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0, 20);
    std::vector<float> noiseTable(1 << 20);
    for (float& v : noiseTable) v = noise(rng);
    std::vector<float> scene(size_t(W) * H, Background);
    std::uniform_real_distribution<float> pos(20, 4070), peak(500, 20000);
    for (int s = 0; s < 300; ++s) {
      const float sx = pos(rng), sy = pos(rng) * (H - 40) / 4070.0f, a = peak(rng);
      for (int y = std::max(0, int(sy) - 8); y < std::min(H, int(sy) + 9); ++y)
        for (int x = std::max(0, int(sx) - 8); x < std::min(W, int(sx) + 9); ++x)
          scene[size_t(y) * W + x] += a * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / 4.5f);
    }
    for (int i = 0; i < Frames; ++i) {
      std::vector<float> v(scene.size());
      const size_t offset = size_t(rng()) % noiseTable.size();
      for (size_t k = 0; k < v.size(); ++k)
        v[k] = std::round(std::clamp(scene[k] + noiseTable[(k * 7 + offset) % noiseTable.size()], 0.0f, 65535.0f));
      if (i == TrailFrame)
        for (int x = 0; x < W; ++x)
          for (int y = 0; y < H; ++y)
            if (TrailPixel(x, y)) v[size_t(y) * W + x] = 30000;
      char name[64];
      std::snprintf(name, sizeof name, "/light_%05d.fit", i + 1);
      Names.push_back(Folder.Path + name);
      if (!WriteUnsigned16(Names.back(), v)) std::abort();
    }
  }
};

TStackFiles& Files() {
  static TStackFiles files;
  return files;
}

// Output of a shell command with its exit status.
std::string Run(const std::string& cmd, int& status) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) {
    status = -1;
    return out;
  }
  char buf[4096];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  status = pclose(p);
  return out;
}

// Our result as the timed run wrote it.
std::string OurResultFile() { return Files().Folder.Path + "/ours.fit"; }

// The median and the 99th percentile of |ours - Siril's| over the image, both
// read by astropy in the same row order; Siril writes its 32-bit result scaled
// to 0..1 (1 = 65535).
std::pair<double, double> DifferenceToSiril(const std::string& folder, const std::string& sirilFile) {
  std::ofstream(folder + "/diff.py") << "import numpy as np\nfrom astropy.io import fits\n"
                                     << "a=fits.getdata('" << OurResultFile() << "').astype(np.float64)\n"
                                     << "b=fits.getdata('" << sirilFile << "').astype(np.float64)\n"
                                     << "b=b*65535 if np.nanmax(b)<=1.0 else b\n"
                                     << "d=np.abs(a-b)\n"
                                     << "print(np.nanmedian(d), np.nanpercentile(d, 99))\n";
  int status = 0;
  const std::string out = Run("/usr/bin/python3 " + folder + "/diff.py 2>&1", status);
  if (status != 0) Fail("difference to Siril's result not measured: " + out.substr(0, 200));
  std::istringstream figures(out);
  double median = -1, p99 = -1;
  figures >> median >> p99;
  if (!figures) Fail("difference to Siril's result not read: " + out.substr(0, 200));
  return {median, p99};
}

// Siril stacks the frames once in a new folder; its stack time in seconds.
// Fails on an error line in its log, a missing result or a difference above
// the tolerance.
double SirilStack(TStackMethod method, int threads, benchmark::State& state) {
  static int run = 0;
  const std::string folder = Files().Folder.Path + "/siril-" + std::to_string(++run);
  std::filesystem::create_directories(folder);
  struct TRemove {
    std::string Path;
    ~TRemove() {
      std::error_code ec;
      std::filesystem::remove_all(Path, ec);
    }
  } remove{folder};
  for (const std::string& f : Files().Names)
    std::filesystem::create_hard_link(f, folder + "/" + std::filesystem::path(f).filename().string());
  const bool sigma = method == TStackMethod::Sigma;
  std::ofstream(folder + "/run.ssf") << "requires 0.99.4\n"
                                     << "setcpu " << threads << "\n"
                                     << "convert light_ -out=seq\ncd seq\n"
                                     << (sigma ? "stack light_ rej s 3 3 -nonorm -out=result\n"
                                               : "stack light_ med -nonorm -out=result\n");
  int status = 0;
  const std::string log = Run("cd " + folder + " && siril-cli -d " + folder + " -s run.ssf 2>&1", status);
  // Any line telling of a failure, save the conversion's count ("0 failed") and
  // the missing settings file of a first start.
  const std::regex error(R"(error|fail|cannot|could not)", std::regex::icase);
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    const std::string kept = std::regex_replace(line, std::regex(R"(\b0 failed)"), "");
    if (line.find("initfile") == std::string::npos && std::regex_search(kept, error))
      Fail("Siril: " + line.substr(0, 160));
  }
  if (status != 0) Fail("siril-cli missing or failed (status " + std::to_string(status) + ")");
  const std::regex time(R"(Execution time: ([0-9.]+) ?(ms|s|min))");
  double seconds = -1;
  for (auto it = std::sregex_iterator(log.begin(), log.end(), time); it != std::sregex_iterator(); ++it) {
    const double v = std::stod((*it)[1]);
    const std::string unit = (*it)[2];
    seconds = unit == "ms" ? v / 1000 : unit == "min" ? v * 60 : v;
  }
  const std::string result = folder + "/seq/result.fit";
  if (seconds <= 0 || !std::filesystem::exists(result)) Fail("Siril wrote no result or no time");
  const auto [median, p99] = DifferenceToSiril(folder, result);
  state.counters["siril_median_abs_diff"] = median;
  state.counters["siril_p99_abs_diff"] = p99;
  if (!(p99 <= (sigma ? SigmaTolerance : MedianTolerance)))
    Fail("result differs from Siril's: 99th percentile of |difference| " + std::to_string(p99) + " ADU (median " +
         std::to_string(median) + ")");
  return seconds;
}

// Mean excess of the trail pixels over the background in the result (slot 1).
double TrailResidual() {
  const TImageSlot& im = Store.Image[1];
  double sum = 0;
  int n = 0;
  for (int x = 0; x < W; x += 16)
    for (int y = 300 + x / 2 - 1; y <= 300 + x / 2 + 1; ++y)
      if (y < H) sum += im.At(1, x, y) - Background, ++n;
  return n ? sum / n : 0;
}

void BM_StackCombination(benchmark::State& state) {
  const auto method = TStackMethod(state.range(0));
  const int threads = int(state.range(1));
  DetectCpuFeatures();
  ApplySimdSetting();
  TStackFiles& files = Files();
  SeriesFileList = files.Names;
  double best = 1e30;
  WithThreads(state, threads, [&] {
    for (auto _ : state) {
      Store.Reset();
      ResetPeakMemory();
      const auto t0 = std::chrono::steady_clock::now();
      if (CombineImageStack({.TargetSlot = 1, .Count = Frames, .Method = method}) != Frames) {
        state.SkipWithError("stack failed");
        break;
      }
      if (!SaveFits(1, -32, OurResultFile(), false, false)) {
        state.SkipWithError("our result could not be written");
        break;
      }
      const double t = Seconds(t0);
      state.counters["peak_mb"] = PeakMemoryMb();
      best = std::min(best, t);
      state.SetIterationTime(t);
    }
  });
  if (state.error_occurred()) return;
  state.counters["trail_residual"] = TrailResidual();
  state.counters["peak_per_result"] = state.counters["peak_mb"] / (double(W) * H * sizeof(float) / (1 << 20));
  // Siril's run is the peer and the check at once: its time, and our result against its.
  double siril = 0;
  if (!Verified(state, [&] {
        Expect(state.counters["trail_residual"] <= TrailTolerance,
               "the trail stays in the stack: " + std::to_string(double(state.counters["trail_residual"])) + " ADU");
        siril = SirilStack(method, threads, state);
      }))
    return;
  state.counters["ms"] = best * 1e3;
  ReportFigure(state, "siril", best, siril, 0.7);
}

ASTRELON_FIGURES(BM_StackCombination, "siril");
BENCHMARK(BM_StackCombination)
    ->ArgNames({"method", "threads"})
    ->Args({int(TStackMethod::Sigma), 8})
    ->Args({int(TStackMethod::Median), 8})
    ->Args({int(TStackMethod::Sigma), 1})
    ->Args({int(TStackMethod::Median), 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace astrelon::bench
