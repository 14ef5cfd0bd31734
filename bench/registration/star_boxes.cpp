// Star boxes on a 3000 x 2000 field of 1500 stars (16-bit levels, sky 1000,
// noise 10) and a second frame of the same sky moved by (7.3, -4.6), in worse
// seeing (widths x 1.3) through a thinner sky (fluxes x 0.7), both on one
// thread, against loading that frame from a 16-bit FITS file (LoadFits, the
// page cache) in the same iterations:
// - "second": the second boxes of 25 pairs (the reference star read from the
//   first image, then the second image's box off centre by up to a third of
//   its size), per box against one load (peer scaled by 25), goal 0.05;
// - "single": 25 single boxes around the same stars of the first image, per
//   box against one load, goal 0.006 (twice the 0.0028 a box cost before its
//   star rule told stars from glows, neighbours and hot pixels).
// - "call": a whole GetAlignmentPoints call with two star boxes in each
//   window (the star-centroid switch, no batch), the second frame new to it
//   each time (one of three renderings of its sky with other noise, put in
//   place untimed) against one load, goal 0.8.
// Check: every point against the drawn star (within 0.1 pixel) with a star's
// quality; the second points against the drawn stars of the second frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "bench_folder.h"
#include "peer_measure.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "kernels/alignment/alignment_points.h"
#include "kernels/alignment/match_quality.h"
#include "kernels/alignment/stars/find_star_centroid.h"
#include "store/fits/fits_reader.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "store/display/display_histogram.h"

namespace astrelon {
namespace {

constexpr int W = 3000, H = 2000, Stars = 1500, Boxes = 25;
constexpr double MoveX = 7.3, MoveY = -4.6, Seeing = 1.3, Thinner = 0.7;

struct TDrawn {
  double X, Y, Peak, Sigma;
};

struct TField {
  std::vector<TDrawn> Stars;
  std::vector<int> Chosen;  // the stars the boxes are drawn around
  std::vector<TWorkRect> First, Second;
};

// The sky with noise and the stars (pixel centres at whole numbers) in whole
// 16-bit levels.
void Render(int slot, const std::vector<TDrawn>& stars, uint32_t seed) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = W;
  im.Height = H;
  im.PlaneCount = 1;
  im.IsColor = 0;
  im.AllocatePlanes(1);
  std::vector<double> light(size_t(W) * H, 0.0);
  for (const TDrawn& s : stars) {
    const int r = int(std::ceil(5 * s.Sigma));
    for (int y = std::max(0, int(s.Y) - r); y <= std::min(H - 1, int(s.Y) + r); ++y)
      for (int x = std::max(0, int(s.X) - r); x <= std::min(W - 1, int(s.X) + r); ++x)
        light[size_t(y) * W + size_t(x)] +=
            s.Peak * std::exp(-((x - s.X) * (x - s.X) + (y - s.Y) * (y - s.Y)) / (2 * s.Sigma * s.Sigma));
  }
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0, 10);
  for (size_t i = 0; i < light.size(); ++i)
    im.Planes[1][i] = float(std::clamp(std::nearbyint(1000 + light[i] + noise(rng)), 0.0, 65535.0));
  Store.InUse[size_t(slot)] = 1;
  UpdateMinMax(slot);
}

const TField& Field() {
  static TField f;
  if (!f.Stars.empty()) return f;
  std::mt19937 rng(2026);
  std::uniform_real_distribution<double> x(20, W - 21), y(20, H - 21), u(0, 1), sigma(1.3, 2.2);
  for (int k = 0; k < Stars; ++k) f.Stars.push_back({x(rng), y(rng), 100 * std::pow(300.0, u(rng)), sigma(rng)});
  // Boxes around clearly visible stars (peak 300 and more) away from the edges.
  for (int k = 0; k < Stars && int(f.Chosen.size()) < Boxes; ++k) {
    const TDrawn& s = f.Stars[size_t(k)];
    if (s.Peak < 300 || s.X < 60 || s.Y < 60 || s.X > W - 61 || s.Y > H - 61) continue;
    // The star must be its box's brightest: no brighter star within the box's reach.
    bool brightest = true;
    for (const TDrawn& o : f.Stars)
      brightest = brightest && !(&o != &s && o.Peak > s.Peak && std::fabs(o.X - s.X) < 16 && std::fabs(o.Y - s.Y) < 16);
    if (!brightest) continue;
    f.Chosen.push_back(k);
    const int half = u(rng) < 0.5 ? 10 : 15;
    const int cx = int(std::nearbyint(s.X)), cy = int(std::nearbyint(s.Y));
    f.First.push_back({cx - half, cx + half, cy - half, cy + half});
    const int ox = int(std::nearbyint((u(rng) - 0.5) * 2 * half * 2 / 3.0));
    const int oy = int(std::nearbyint((u(rng) - 0.5) * 2 * half * 2 / 3.0));
    const int sx = int(std::nearbyint(s.X + MoveX)) + ox, sy = int(std::nearbyint(s.Y + MoveY)) + oy;
    f.Second.push_back({sx - half, sx + half, sy - half, sy + half});
  }
  return f;
}

const std::string& FrameFile() {
  static const bench::TBenchFolder folder("star-boxes");
  static std::string file;
  if (!file.empty()) return file;
  const TField& f = Field();
  Store.Reset();
  std::vector<TDrawn> second;
  for (const TDrawn& s : f.Stars)
    second.push_back({s.X + MoveX, s.Y + MoveY, s.Peak * Thinner / (Seeing * Seeing), s.Sigma * Seeing});
  Render(1, f.Stars, 1);
  Render(2, second, 2);
  file = folder.Path + "/frame16.fit";
  if (!SaveFits(2, 16, file, false, false)) bench::Fail("the frame could not be written");
  return file;
}

struct TMeasured {
  std::vector<TFloatPoint> Points;
  std::vector<double> Qualities;
};

void Check(const TMeasured& m, bool second) {
  const TField& f = Field();
  for (size_t k = 0; k < f.Chosen.size(); ++k) {
    const TDrawn& s = f.Stars[size_t(f.Chosen[k])];
    const double x = s.X + (second ? MoveX : 0), y = s.Y + (second ? MoveY : 0);
    const double off = std::hypot(m.Points[k].X - x, m.Points[k].Y - y);
    bench::Expect(off <= 0.1 && m.Qualities[k] >= 1,
                  std::string(second ? "second" : "single") + " box " + std::to_string(k) + ": (" +
                      std::to_string(m.Points[k].X) + ", " + std::to_string(m.Points[k].Y) + ") quality " +
                      std::to_string(m.Qualities[k]) + ", the star at (" + std::to_string(x) + ", " +
                      std::to_string(y) + ")");
  }
}

// The first boxes' stars, measured once (as a first box is).
struct TFirst {
  float T1 = 0, T2 = 0;
  std::vector<TFloatPoint> Points;
  std::vector<double> Fluxes;
};

const TFirst& First() {
  static TFirst first;
  if (!first.Points.empty()) return first;
  first.T1 = EstimatePlaneNoise(1, 1) + 0.001f;
  first.T2 = EstimatePlaneNoise(2, 1) + 0.001f;
  for (const TWorkRect& box : Field().First) {
    FindStarCentroid(1, box, first.T1, 1);
    first.Points.push_back(StarPosition);
    first.Fluxes.push_back(StarFlux);
  }
  return first;
}

TMeasured SecondBoxes() {
  const TField& f = Field();
  const TFirst& first = First();
  TMeasured m;
  for (size_t k = 0; k < f.Second.size(); ++k) {
    MatchQuality = 99;
    const TStarReference reference = ReadStarReference(1, first.Points[k], first.T1, false, first.Fluxes[k]);
    FindStarCentroid(2, f.Second[k], first.T2, 1,
                     {.OtherSlot = 1, .RefPoint = first.Points[k], .Reference = &reference});
    m.Points.push_back(StarPosition);
    m.Qualities.push_back(MatchQuality);
  }
  return m;
}

TMeasured SingleBoxes() {
  TMeasured m;
  for (const TWorkRect& box : Field().First) {
    MatchQuality = 99;
    FindStarCentroid(1, box, First().T1, 1);
    m.Points.push_back(StarPosition);
    m.Qualities.push_back(MatchQuality);
  }
  return m;
}

void Run(benchmark::State& state, bool second, double goal) {
  const std::string& file = FrameFile();
  First();
  TMeasured measured;
  const auto load = [&] {
    if (!LoadFits(3, file, false)) bench::Fail("the frame could not be loaded");
  };
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state, [&] { measured = second ? SecondBoxes() : SingleBoxes(); },
        {{"load", load, goal, [] { return double(Boxes); }}}, {}, [&] { Check(measured, second); });
  });
}

// An image window showing two selections, for the call.
class TBoxWindow : public TImageWindowLink {
public:
  TBoxWindow(const TWorkRect& a, const TWorkRect& b) : a_{a.x1, a.y1, a.x2, a.y2}, b_{b.x1, b.y1, b.x2, b.y2} {}
  int MarkCount() const override { return 0; }
  bool MarkImageRect(int, TRectI&) const override { return false; }
  bool MarkerVisible(int) const override { return false; }
  TPointI MarkerImagePoint(int) const override { return {}; }
  bool SelectionVisible(int) const override { return true; }
  TRectI SelectionImageRect(int n) const override { return n == 1 ? a_ : b_; }
  void MoveMark(int, const TRectI&) override {}
  void CentreSelection(int, double, double) override {}
  void SetOperationIcons(bool) override {}
  void ShowProgressBar(int, const std::string&) override {}
  void HideProgressBar() override {}
  bool IsActiveWindow() const override { return false; }

private:
  TRectI a_, b_;
};

void BM_AlignmentCallVsLoad(benchmark::State& state) {
  const std::string& file = FrameFile();
  const TField& f = Field();
  // Three renderings of the second frame's sky, put into slot 2 in turn.
  std::vector<TDrawn> second;
  for (const TDrawn& s : f.Stars)
    second.push_back({s.X + MoveX, s.Y + MoveY, s.Peak * Thinner / (Seeing * Seeing), s.Sigma * Seeing});
  std::vector<TPlane> frames;
  for (uint32_t seed : {11u, 12u, 13u}) {
    Render(2, second, seed);
    frames.push_back(Store.Image[2].Planes[1]);
  }
  TBoxWindow reference(f.First[0], f.First[1]), moved(f.Second[0], f.Second[1]);
  Store.Window[1] = &reference;
  Store.Window[2] = &moved;
  Store.HasWindow[1] = Store.HasWindow[2] = 1;
  Settings.ShiftMode = 0;
  BatchRunning = 0;
  size_t next = 0;
  TAlignPoints points;
  double quality = 0;
  const auto load = [&] {
    if (!LoadFits(3, file, false)) bench::Fail("the frame could not be loaded");
  };
  const auto prepare = [&] {
    Store.Image[2].Planes[1] = frames[next++ % frames.size()];
    UpdateMinMax(2);
  };
  const auto check = [&] {
    bench::Expect(points.count == 2 && quality >= 1, "the call measured " + std::to_string(points.count) +
                                                         " pairs, quality " + std::to_string(quality));
    const TFloatPoint got[4] = {{points.A1x, points.A1y}, {points.A2x, points.A2y}, {points.B1x, points.B1y},
                                {points.B2x, points.B2y}};
    for (size_t k = 0; k < 4; ++k) {
      const TDrawn& s = f.Stars[size_t(f.Chosen[k % 2])];
      const double x = s.X + (k >= 2 ? MoveX : 0), y = s.Y + (k >= 2 ? MoveY : 0);
      bench::Expect(std::hypot(got[k].X - x, got[k].Y - y) <= 0.1,
                    "point " + std::to_string(k) + ": (" + std::to_string(got[k].X) + ", " + std::to_string(got[k].Y) +
                        "), the star at (" + std::to_string(x) + ", " + std::to_string(y) + ")");
    }
  };
  bench::WithThreads(state, 1, [&] {
    bench::Measure(
        state,
        [&] {
          MatchQuality = 99;
          points = GetAlignmentPoints(1, 2, false, -1);
          quality = MatchQuality;
        },
        {{"load", load, 0.8}}, prepare, check);
  });
  Store.Window[1] = Store.Window[2] = nullptr;
  Store.HasWindow[1] = Store.HasWindow[2] = 0;
}

void BM_SecondBoxVsLoad(benchmark::State& state) { Run(state, true, 0.05); }
void BM_SingleBoxVsLoad(benchmark::State& state) { Run(state, false, 0.006); }
ASTRELON_FIGURES(BM_SecondBoxVsLoad, "load");
ASTRELON_FIGURES(BM_SingleBoxVsLoad, "load");
ASTRELON_FIGURES(BM_AlignmentCallVsLoad, "load");
BENCHMARK(BM_SecondBoxVsLoad)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_SingleBoxVsLoad)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_AlignmentCallVsLoad)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
}  // namespace astrelon
