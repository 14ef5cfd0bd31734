// Master frames and multifocus merging.
// BM_MeanMasterDark: a "Mitteln" master dark of 20 frames of 4096 x 3072
// (BITPIX 16) against loading the same frames with LoadImageFile alone, same
// run; goal ratio <= 1.3. The whole worker (noise of the first two darks,
// mean, FITS written) and the mean alone are both reported.
// BM_Multifocus: the sharpness weights and weighted sums of one 6000 x 4000 RGB
// frame against cv::filter2D with a 21 x 21 kernel on the same three planes at
// the same thread count; goal ratio <= 2.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench_folder.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "registration/stacking/master_frame_state.h"
#include "registration/stacking/master_frames.h"
#include "registration/stacking/multifocus.h"
#include "store/fits/fits_writer.h"
#include "store/header_cards.h"
#include "store/image_loader.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

#if ASTRELON_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace astrelon::bench {
namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

constexpr int DarkW = 4096, DarkH = 3072, Darks = 20;

struct TDarkFiles {
  TBenchFolder Folder{"master-darks"};
  std::vector<std::string> Names;
  TDarkFiles() {
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0, 12);
    std::vector<float> table(1 << 20);
    for (float& v : table) v = noise(rng);
    for (int i = 0; i < Darks; ++i) {
      const int slot = 40;
      TImageSlot& im = Store.Image[slot];
      im = TImageSlot{};
      im.Width = DarkW;
      im.Height = DarkH;
      im.PlaneCount = 1;
      im.Planes[1].resize(size_t(DarkW) * DarkH);
      const size_t offset = size_t(rng()) % table.size();
      for (size_t k = 0; k < im.Planes[1].size(); ++k)
        im.Planes[1][k] = std::round(300 + (k % 9973 == 0 ? 20000 : 0) + table[(k * 5 + offset) % table.size()]);
      Store.InUse[slot] = 1;
      MakeDefaultHeader(slot);
      SetHeaderKeyword(slot, "CCD-TEMP", "", -10 - 0.1 * i, true, false, false);
      UpdateMinMax(slot);
      char name[64];
      std::snprintf(name, sizeof name, "/dark_%03d.fit", i + 1);
      Names.push_back(Folder.Path + name);
      SaveFits(slot, 16, Names.back(), false, false);
      FreeSlot(slot);
    }
  }
};

TDarkFiles& DarkFiles() {
  static TDarkFiles files;
  return files;
}

double LoadAll(const std::vector<std::string>& names) {
  const auto t0 = Clock::now();
  for (const std::string& n : names) {
    LoadImageFile(1, n);
    FreeSlot(1);
  }
  return Seconds(t0);
}

void BM_MeanMasterDark(benchmark::State& state) {
  TDarkFiles& files = DarkFiles();
  TMasterProgress quiet;
  double best = 1e30, bestLoad = 1e30, bestMean = 1e30;
  for (auto _ : state) {
    Store.Reset();
    bestLoad = std::min(bestLoad, LoadAll(files.Names));
    auto t0 = Clock::now();
    MeanOfFrames(1, files.Names, -1, true);
    bestMean = std::min(bestMean, Seconds(t0));
    FreeSlot(1);
    TMasterJob job;
    job.Darks.Files = files.Names;
    job.Darks.FileName = files.Folder.Path + "/master.fit";
    t0 = Clock::now();
    BuildMasterFrames(job, quiet);
    const double t = Seconds(t0);
    best = std::min(best, t);
    state.SetIterationTime(t);
  }
  state.counters["ms"] = best * 1e3;
  state.counters["load_only_ms"] = bestLoad * 1e3;
  state.counters["mean_only_ms"] = bestMean * 1e3;
  state.counters["ratio"] = best / bestLoad;
  state.counters["mean_only_ratio"] = bestMean / bestLoad;
  state.counters["ratio_goal"] = 1.3;
}

BENCHMARK(BM_MeanMasterDark)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

constexpr int FocusW = 6000, FocusH = 4000;

// A photograph-like RGB frame: soft blobs, sharp squares in the left half and noise.
const std::vector<std::vector<float>>& FocusPlanes() {
  static std::vector<std::vector<float>> planes = [] {
    std::mt19937 rng(9);
    std::normal_distribution<float> noise(0, 3);
    std::vector<float> base(size_t(FocusW) * FocusH, 200);
    std::uniform_real_distribution<float> px(0, FocusW), py(0, FocusH), amp(50, 800), rad(20, 200);
    for (int b = 0; b < 200; ++b) {
      const float cx = px(rng), cy = py(rng), a = amp(rng), r = rad(rng);
      const int x0 = std::max(0, int(cx - 3 * r)), x1 = std::min(FocusW, int(cx + 3 * r));
      const int y0 = std::max(0, int(cy - 3 * r)), y1 = std::min(FocusH, int(cy + 3 * r));
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
          base[size_t(y) * FocusW + x] += a * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * r * r));
    }
    for (int y = 0; y < FocusH; ++y)
      for (int x = 0; x < FocusW / 2; ++x)
        if (((x / 24) + (y / 24)) % 7 == 0) base[size_t(y) * FocusW + x] += 400;
    std::vector<std::vector<float>> p(3, base);
    for (size_t c = 0; c < 3; ++c)
      for (float& v : p[c]) v = v * (0.8f + 0.2f * float(c)) + noise(rng);
    return p;
  }();
  return planes;
}

void BM_Multifocus(benchmark::State& state) {
  const int threads = int(state.range(0));
  const auto& planes = FocusPlanes();
  Store.Reset();
  TImageSlot& im = Store.Image[1];
  im.Width = FocusW;
  im.Height = FocusH;
  im.PlaneCount = 3;
  im.IsColor = 1;
  for (int p = 1; p <= 3; ++p) im.Planes[size_t(p)].assign(planes[size_t(p - 1)].begin(), planes[size_t(p - 1)].end());
  Store.InUse[1] = 1;
  const float sigma = std::max(EstimatePlaneNoise(1, 2), 0.001f);
  const float base = float(0.0002 / 2 * sigma * 4);
  std::vector<float> q(size_t(FocusW) * FocusH), r(q.size()), w(q.size());
  double best = 1e30;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (int p = 0; p < 3; ++p) {
      MultifocusSharpness(planes[size_t(p)], FocusW, FocusH, sigma, base, q, threads);
      const float* f = planes[size_t(p)].data();
      for (size_t i = 0; i < q.size(); ++i) {
        r[i] += q[i] * f[i];
        w[i] += q[i];
      }
    }
    const double t = Seconds(t0);
    best = std::min(best, t);
    state.SetIterationTime(t);
  }
  state.counters["ms"] = best * 1e3;
  state.counters["threads"] = threads;
#if ASTRELON_HAVE_OPENCV
  cv::setNumThreads(threads);
  cv::Mat kernel(21, 21, CV_32F);
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 21; ++x) kernel.at<float>(y, x) = MultifocusWeight(x - 10, y - 10);
  double peer = 1e30;
  for (int k = 0; k < 3; ++k) {
    const auto t0 = Clock::now();
    for (int p = 0; p < 3; ++p) {
      cv::Mat src(FocusH, FocusW, CV_32F, const_cast<float*>(planes[size_t(p)].data())), dst;
      cv::filter2D(src, dst, CV_32F, kernel);
    }
    peer = std::min(peer, Seconds(t0));
  }
  state.counters["filter2D_ms"] = peer * 1e3;
  state.counters["ratio"] = best / peer;
  state.counters["ratio_goal"] = 2.0;
#else
  state.SetLabel("OpenCV missing: no peer figures");
#endif
  Store.Reset();
}

BENCHMARK(BM_Multifocus)->ArgName("threads")->Arg(8)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace astrelon::bench
