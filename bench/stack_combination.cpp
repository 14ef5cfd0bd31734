// Stack combination of 20 frames of 4096 x 3072 (BITPIX 16, stars, noise and a
// satellite trail in one frame) by Sigma and Median, against siril-cli stacking
// the same files (its own "Execution time" lines, warm page cache). Counters:
// our time, Siril's, the ratio (goal 1.0), the trail's residual above the
// background in our result, and the median per-pixel difference to Siril's
// result. Without siril-cli the peer figures are left out with a message.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "bench_folder.h"
#include "core/batch_series.h"
#include "core/settings.h"
#include "registration/stacking/combine_image_stack.h"
#include "store/fits/fits_writer.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon::bench {
namespace {

constexpr int W = 4096, H = 3072, Frames = 20, TrailFrame = 7;
constexpr float Background = 1000;

bool TrailPixel(int x, int y) { return std::abs(y - (300 + x / 2)) <= 1; }

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
      const int slot = 40;
      TImageSlot& im = Store.Image[slot];
      im = TImageSlot{};
      im.Width = W;
      im.Height = H;
      im.PlaneCount = 1;
      im.Planes[1].assign(v.begin(), v.end());
      Store.InUse[slot] = 1;
      MakeDefaultHeader(slot);
      UpdateMinMax(slot);
      Names.push_back(Folder.Path + name);
      SaveFits(slot, 16, Names.back(), false, false);
      FreeSlot(slot);
    }
  }
};

TStackFiles& Files() {
  static TStackFiles files;
  return files;
}

// Siril's "Execution time" lines of a script run, in seconds; empty when it is missing.
std::vector<double> RunSiril(const std::string& folder, bool oneThread) {
  std::ofstream(folder + "/run.ssf") << "requires 0.99.4\n"
                                     << (oneThread ? "setcpu 1\n" : "") << "convert light_ -out=seq\ncd seq\n"
                                     << "stack light_ rej s 3 3 -nonorm -out=r_sigma\n"
                                     << "stack light_ med -nonorm -out=r_med\n";
  const std::string cmd = "cd " + folder + " && rm -rf seq && siril-cli -d " + folder + " -s run.ssf 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {};
  std::string out;
  char buf[4096];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  if (pclose(p) != 0) return {};
  std::vector<double> times;
  const std::regex re(R"(Execution time: ([0-9.]+) ?(ms|s|min))");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), re); it != std::sregex_iterator(); ++it) {
    const double v = std::stod((*it)[1]);
    const std::string unit = (*it)[2];
    times.push_back(unit == "ms" ? v / 1000 : unit == "min" ? v * 60 : v);
  }
  return times;
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

// Median |ours - Siril's| over the image, read by astropy; Siril's result is
// scaled to ours by the ratio of the medians (it writes normalised values) and
// compared in both row orders (the one that matches counts). -1 when it fails.
double DifferenceToSiril(const std::string& folder, const std::string& sirilFile) {
  const std::string ours = folder + "/ours.fit";
  if (!SaveFits(1, -32, ours, false, false)) return -1;
  const std::string script =
      "import numpy as np\nfrom astropy.io import fits\n"
      "a=fits.getdata('" + ours + "').astype(np.float64)\n"
      "b=fits.getdata('" + sirilFile + "').astype(np.float64)\n"
      "b=b*np.nanmedian(a)/np.nanmedian(b)\n"
      "print(min(np.nanmedian(np.abs(a-b)),np.nanmedian(np.abs(a-b[::-1]))))\n";
  std::ofstream(folder + "/diff.py") << script;
  FILE* p = popen(("/usr/bin/python3 " + folder + "/diff.py 2>/dev/null").c_str(), "r");
  if (!p) return -1;
  char buf[128] = {};
  const bool got = fgets(buf, sizeof buf, p) != nullptr;
  return pclose(p) == 0 && got ? std::atof(buf) : -1;
}

void BM_StackCombination(benchmark::State& state) {
  const auto method = TStackMethod(state.range(0));
  const int threads = int(state.range(1));
  TStackFiles& files = Files();
  SeriesFileList = files.Names;
  const TProgramOptions saved = Options;
  Options.Multicore = threads > 1;
  double best = 1e30;
  for (auto _ : state) {
    Store.Reset();
    const auto t0 = std::chrono::steady_clock::now();
    if (CombineImageStack({.TargetSlot = 1, .Count = Frames, .Method = method}) != Frames)
      state.SkipWithError("stack failed");
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    best = std::min(best, t);
    state.SetIterationTime(t);
  }
  Options = saved;
  state.counters["ms"] = best * 1e3;
  state.counters["threads"] = threads;
  state.counters["trail_residual"] = TrailResidual();
  const std::vector<double> siril = RunSiril(files.Folder.Path, threads == 1);
  if (siril.size() < 2) {
    state.SetLabel("siril-cli missing or failed: no peer figures");
    return;
  }
  // The last two timed commands: the Sigma stack, then the Median stack.
  const double peer = siril[siril.size() - (method == TStackMethod::Sigma ? 2 : 1)];
  state.counters["siril_ms"] = peer * 1e3;
  state.counters["siril_ratio"] = best / peer;
  state.counters["siril_ratio_goal"] = 1.0;
  state.counters["siril_median_abs_diff"] =
      DifferenceToSiril(files.Folder.Path,
                        files.Folder.Path + (method == TStackMethod::Sigma ? "/seq/r_sigma.fit" : "/seq/r_med.fit"));
}

BENCHMARK(BM_StackCombination)
    ->ArgNames({"method", "threads"})
    ->Args({int(TStackMethod::Sigma), 8})
    ->Args({int(TStackMethod::Median), 8})
    ->Args({int(TStackMethod::Sigma), 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace astrelon::bench
