// Block matching of a 4096 x 3072 star field against a copy whose stars are
// moved by (+7.3, -4.6), on one thread and on eight, against OpenCV's phase
// correlation of the same windows on as many threads (figure
// "phaseCorrelate", goal 1.5); and the vector cost against the scalar twin of
// the same routine over a full grid on one thread (figure "scalar", goal 1/3:
// the vector path must pay off). Counter "vs_cell_by_cell_px": the distance
// between the measured position and the one the search computing every cell
// pixel by pixel gives. Checks: the shift measured lies within 0.05 pixel of
// the one drawn; the vector cost's sum over the grid equals the scalar twin's
// (within 1e-9 of it).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "kernels/alignment/block_match_cost.h"
#include "kernels/alignment/match_quality.h"
#include "kernels/alignment/shift_by_correlation.h"
#include "peer_measure.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

#if ASTRELON_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace astrelon {
namespace {

constexpr int FieldW = 4096, FieldH = 3072;
constexpr double TrueDx = 7.3, TrueDy = -4.6;

// Slot 1: the field; slot 2: its stars moved by the true shift, fresh noise.
void MakeFields() {
  static bool made = false;
  if (made) return;
  made = true;
  Store.Reset();
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> px(10, FieldW - 10), py(10, FieldH - 10), peak(200, 30000);
  struct TStar {
    double X, Y, A;
  };
  std::vector<TStar> stars(12000);
  for (TStar& s : stars) s = {px(rng), py(rng), peak(rng)};
  for (int slot : {1, 2}) {
    TImageSlot& im = Store.Image[size_t(slot)];
    im.Width = FieldW;
    im.Height = FieldH;
    im.PlaneCount = 1;
    im.AllocatePlanes(1);
    std::normal_distribution<float> noise(1000.0f, 10.0f);
    for (float& v : im.Planes[1]) v = noise(rng);
    const double dx = slot == 2 ? TrueDx : 0, dy = slot == 2 ? TrueDy : 0;
    for (const TStar& s : stars) {
      const double cx = s.X + dx, cy = s.Y + dy;
      for (int y = int(cy) - 5; y <= int(cy) + 5; ++y)
        for (int x = int(cx) - 5; x <= int(cx) + 5; ++x)
          im.Planes[1][size_t(y) * FieldW + size_t(x)] +=
              float(s.A * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / 4.0));
    }
    Store.InUse[size_t(slot)] = 1;
    UpdateMinMax(slot);
  }
}

TWorkRect CentreBlock(int side) {
  const int x1 = FieldW / 2 - side / 2, y1 = FieldH / 2 - side / 2;
  return {x1, x1 + side - 1, y1, y1 + side - 1};
}

// Args: block side, threads.
void BM_FindShift(benchmark::State& state) {
  MakeFields();
  DetectCpuFeatures();
  ApplySimdSetting();
  const int side = int(state.range(0)), threads = int(state.range(1));
  const TWorkRect block = CentreBlock(side);
  TShiftResult ours;
  std::vector<bench::TPeer> peers;
#if ASTRELON_HAVE_OPENCV
  const TImageSlot& a = Store.Image[1];
  const TImageSlot& b = Store.Image[2];
  const size_t step = size_t(FieldW) * sizeof(float);
  const size_t at = size_t(block.y1) * FieldW + size_t(block.x1);
  const cv::Mat wa(side, side, CV_32F, const_cast<float*>(a.Planes[1].data() + at), step);
  const cv::Mat wb(side, side, CV_32F, const_cast<float*>(b.Planes[1].data() + at), step);
  cv::Point2d theirs;
  cv::setNumThreads(threads);
  peers.push_back({"phaseCorrelate", [&] {
                     // phaseCorrelate multiplies its inputs by the window in place.
                     cv::Mat ca = wa.clone(), cb = wb.clone(), hann;
                     cv::createHanningWindow(hann, wa.size(), CV_32F);
                     theirs = cv::phaseCorrelate(ca, cb, hann);
                   },
                   1.5});
#endif
  const double cx = (block.x1 + block.x2) * 0.5, cy = (block.y1 + block.y2) * 0.5;
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state,
        [&] {
          MatchQuality = 99.0;
          ours = FindShiftByCorrelation(1, 1, 2, 1, block, block, 100, false, -1);
        },
        peers, {},
        [&] {
          const double error = std::hypot(ours.Position.X - cx - TrueDx, ours.Position.Y - cy - TrueDy);
          bench::Expect(error <= 0.05, "shift measured " + std::to_string(error) + " pixel from the one drawn");
        });
  });
  // The same measurement with every cell's cost pixel by pixel: how far the
  // position through spectra lies from it.
  ShiftCostsBySpectra = false;
  const TShiftResult cellByCell = FindShiftByCorrelation(1, 1, 2, 1, block, block, 100, false, -1);
  ShiftCostsBySpectra = true;
  state.counters["vs_cell_by_cell_px"] =
      std::hypot(ours.Position.X - cellByCell.Position.X, ours.Position.Y - cellByCell.Position.Y);
  state.counters["ours_error_px"] = std::hypot(ours.Position.X - cx - TrueDx, ours.Position.Y - cy - TrueDy);
#if ASTRELON_HAVE_OPENCV
  state.counters["opencv_error_px"] = std::hypot(theirs.x - TrueDx, theirs.y - TrueDy);
#endif
}
ASTRELON_FIGURES(BM_FindShift, "phaseCorrelate");
BENCHMARK(BM_FindShift)
    ->Args({128, 1})
    ->Args({128, 8})
    ->Args({256, 1})
    ->Args({256, 8})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The worst case of the search: every cell of a full 80 x 80 grid over a flat
// noise block, vector cost against plain cost on one thread.
void BM_FullGridCost(benchmark::State& state) {
  DetectCpuFeatures();
  ApplySimdSetting();
  constexpr int W = 64, Grid = 80, Side = W + Grid;
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(1000.0f, 10.0f);
  std::vector<float> ref(size_t(W) * W), second(size_t(Side) * Side);
  for (float& v : ref) v = noise(rng);
  for (float& v : second) v = noise(rng);
  // The sum of every cell's cost, by path (1 vector).
  double sums[2] = {0, 0};
  auto grid = [&](bool vector) {
    return [&, vector] {
      double sum = 0;
      for (int j = 0; j < Grid; ++j)
        for (int i = 0; i < Grid; ++i)
          sum += BlockMatchCost(ref, W, W, std::span<const float>(second).subspan(size_t(j) * Side + size_t(i)), Side,
                                vector);
      sums[vector ? 1 : 0] = sum;
    };
  };
  bench::WithThreads(state, 1, [&] {
    bench::Measure(state, grid(true), {{"scalar", grid(false), 1.0 / 3}}, {},
                   [&] { bench::ExpectValue(sums[1], sums[0], 1e-9, "the vector path's costs summed"); });
  });
}
ASTRELON_FIGURES(BM_FullGridCost, "scalar");
BENCHMARK(BM_FullGridCost)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace astrelon
