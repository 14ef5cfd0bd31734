// Master frames and multifocus merging, on all cores (8 at most).
// BM_MeanMasterDark: a "Mitteln" master dark of 20 frames of 4096 x 3072
// (BITPIX 16) against cfitsio doing the same on as many threads of the baseline
// pool: each thread reads its share of the frames (fits_read_pix into floats)
// and adds them up, the sums are added and divided, and for the whole worker
// the mean is written as a float FITS file. Figures: "cfitsio" the whole
// worker (noise of the first two darks, mean, FITS written) over read, mean
// and write, goal 1.0; "mean_cfitsio" the mean alone (MeanOfFrames) over read
// and mean, goal 1.0.
// BM_Multifocus: the sharpness weights and weighted sums of one 6000 x 4000 RGB
// frame against cv::filter2D with a 21 x 21 kernel on the same three planes at
// the same thread count (figure "opencv"); goal 2.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "band_pool.h"
#include "bench_folder.h"
#include "peer_measure.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
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

#include <fitsio.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace astrelon::bench {
namespace {


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

// cfitsio's mean of the frames on `threads` pool threads, written to `output` when not empty.
void CfitsioMean(const std::vector<std::string>& names, int threads, const std::string& output) {
  const size_t n = size_t(DarkW) * DarkH;
  std::vector<TPlane> sums(static_cast<size_t>(threads));
  std::atomic<bool> failed{false};
  const int64_t count = int64_t(names.size());
  bench::PoolBands(threads, threads, [&](int64_t t, int64_t) {
    TPlane& sum = sums[size_t(t)];
    sum.assign(n, 0.0f);
    TPlane frame(n);
    for (int64_t k = count * t / threads; k < count * (t + 1) / threads; ++k) {
      fitsfile* f = nullptr;
      int status = 0, anynul = 0;
      long start[2] = {1, 1};
      fits_open_file(&f, names[size_t(k)].c_str(), READONLY, &status);
      fits_read_pix(f, TFLOAT, start, long(n), nullptr, frame.data(), &anynul, &status);
      fits_close_file(f, &status);
      if (status != 0) failed = true;
      for (size_t i = 0; i < n; ++i) sum[i] += frame[i];
    }
  });
  if (failed) bench::Fail("cfitsio could not read a dark");
  TPlane& mean = sums[0];
  const float scale = 1.0f / float(names.size());
  bench::PoolBands(DarkH, threads, [&](int64_t y0, int64_t y1) {
    for (size_t i = size_t(y0) * DarkW; i < size_t(y1) * DarkW; ++i) {
      float v = mean[i];
      for (size_t t = 1; t < sums.size(); ++t) v += sums[t][i];
      mean[i] = v * scale;
    }
  });
  if (output.empty()) return;
  fitsfile* f = nullptr;
  int status = 0;
  long naxes[2] = {DarkW, DarkH}, start[2] = {1, 1};
  fits_create_file(&f, ("!" + output).c_str(), &status);
  fits_create_img(f, FLOAT_IMG, 2, naxes, &status);
  fits_write_pix(f, TFLOAT, start, long(n), mean.data(), &status);
  fits_close_file(f, &status);
  if (status != 0) bench::Fail("cfitsio could not write the mean");
}

void BM_MeanMasterDark(benchmark::State& state) {
  DetectCpuFeatures();  // the SIMD switches as the program sets them at start-up
  ApplySimdSetting();
  TDarkFiles& files = DarkFiles();
  TMasterProgress quiet;
  const int threads = BandThreads(int64_t(DarkW) * DarkH, 1, true);
  const std::string peerFile = files.Folder.Path + "/cfitsio_mean.fit";
  double whole = 1e30, mean = 1e30, peerWhole = 1e30, peerMean = 1e30;
  bench::WithThreads(state, threads, [&] {
    for (auto _ : state) {
      Store.Reset();
      if (!bench::Timed(state, [&] { CfitsioMean(files.Names, threads, peerFile); }, peerWhole) ||
          !bench::Timed(state, [&] { CfitsioMean(files.Names, threads, ""); }, peerMean) ||
          !bench::Timed(
              state,
              [&] {
                if (MeanOfFrames(1, files.Names, -1, true) != Darks) bench::Fail("mean failed");
              },
              mean))
        break;
      FreeSlot(1);
      TMasterJob job;
      job.Darks.Files = files.Names;
      job.Darks.FileName = files.Folder.Path + "/master.fit";
      double run = 1e30;
      if (!bench::Timed(
              state,
              [&] {
                if (!BuildMasterFrames(job, quiet)) bench::Fail("master dark failed");
              },
              run))
        break;
      whole = std::min(whole, run);
      state.SetIterationTime(run);
    }
  });
  if (state.error_occurred()) return;
  state.counters["ms"] = whole * 1e3;
  bench::ReportFigure(state, "cfitsio", whole, peerWhole, 1.0);
  bench::ReportFigure(state, "mean_cfitsio", mean, peerMean, 1.0, true);
}
ASTRELON_FIGURES(BM_MeanMasterDark, "cfitsio", "mean_cfitsio");

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
  cv::setNumThreads(threads);
  cv::Mat kernel(21, 21, CV_32F);
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 21; ++x) kernel.at<float>(y, x) = MultifocusWeight(x - 10, y - 10);
  std::vector<cv::Mat> sharpness(3);  // kept between runs, as ours reuses its buffers
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state,
        [&] {
          for (int p = 0; p < 3; ++p) {
            MultifocusSharpness(planes[size_t(p)], FocusW, FocusH, sigma, base, q, threads);
            const float* f = planes[size_t(p)].data();
            for (size_t i = 0; i < q.size(); ++i) {
              r[i] += q[i] * f[i];
              w[i] += q[i];
            }
          }
        },
        {{"opencv",
          [&] {
            for (int p = 0; p < 3; ++p) {
              const cv::Mat src(FocusH, FocusW, CV_32F, const_cast<float*>(planes[size_t(p)].data()));
              cv::filter2D(src, sharpness[size_t(p)], CV_32F, kernel);
            }
          },
          2.0}});
  });
  Store.Reset();
}
ASTRELON_FIGURES(BM_Multifocus, "opencv");

BENCHMARK(BM_Multifocus)->ArgName("threads")->Arg(8)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace astrelon::bench
