// Stacks of a dithered one-shot-colour night through the batch as the user
// runs it ("Zur Zieldatei addieren", two marked stars on turned frames, one on
// shifted frames): the stars keep their flux against the sky and their places,
// the noise per unit of star flux is near what the frames' count gives, and no
// defect or hit of the frames stays in a "Sigma" stack.
#include <cstdio>
#include <string>

#include "marked_run_fixture.h"
#include "night_frames.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

struct TStackFigures {
  int Frames = 0;                         // frames stacked
  std::array<double, 3> Flux{}, Noise{};  // against the first frame's; noise against the ideal
  double PlaceRms = 0;                    // stack centres against the first frame's
  int Stray = 0;                          // spoilt pixels standing out of the stack
};

class StackNightTest : public MarkedRunTest {
 protected:
  // The night through the batch with `marks` marks and the combination `mode`
  // (0 "Add", 5 "Sigma"). A later frame that asks is left out, as a user
  // who sees its star lost would.
  TStackFigures StackOf(const TNight& night, int marks, int mode) {
    const int W = night.Shape.W, H = night.Shape.H;
    Restart();
    for (size_t k = 0; k < night.Frames.size(); ++k) {
      const auto& rgb = night.Frames[k].Rgb;
      WriteImage("n" + std::to_string(1000 + k) + ".fit", W, H, {rgb[0], rgb[1], rgb[2]});
    }
    const std::string target = "stack" + std::to_string(marks) + std::to_string(mode) + ".fit";
    Files(dir.file("n1000.fit"), target);
    MarkedAddBatch(marks);
    BatchRun.CombineMode = mode;
    answer = [&](int prompt, int target, int) {
      FakeWindow& w = windows[size_t(target)];
      if (prompt == 1) {
        w.sel1 = true;
        w.rect1 = BoxAround(night.Stars[0].X, night.Stars[0].Y, 8);
        w.sel2 = marks == 2;
        w.rect2 = BoxAround(night.Stars[1].X, night.Stars[1].Y, 8);
      }
      BatchRun.SkipImage = prompt > 1;
      Ok(true);
    };
    EXPECT_TRUE(Start());
    Run();
    EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
    FreeSlot(48);
    EXPECT_TRUE(LoadImageFile(48, dir.file(target)));
    TStackFigures f;
    f.Frames = std::atoi(labels.Label1.c_str());
    // Stars alone and well inside every frame; places without stars.
    std::vector<std::array<double, 2>> stars, blank;
    const auto away = [&](double x, double y, double d, const TNight::TStar* self) {
      bool free = x > 45 && y > 45 && x < W - 45 && y < H - 45;
      for (const TNight::TStar& s : night.Stars) free = free && (&s == self || std::hypot(s.X - x, s.Y - y) > d);
      return free;
    };
    for (const TNight::TStar& s : night.Stars)
      if (s.Flux >= 2e4 && away(s.X, s.Y, 20, &s)) stars.push_back({s.X, s.Y});
    for (int y = 45; y < H - 45; y += 4)
      for (int x = 45; x < W - 45; x += 4)
        if (away(x, y, 12, nullptr)) blank.push_back({double(x), double(y)});
    int placed = 0;
    for (int q = 0; q < 3; ++q) {
      const std::vector<float> stack = PlaneValues(48, q + 1);
      const TPlaneMeasure s{stack, W, H}, r{night.Frames[0].Rgb[size_t(q)], W, H};
      const double sky =
          TPlaneMeasure::Median({stack.begin(), stack.end()}) / TPlaneMeasure::Median({r.V.begin(), r.V.end()});
      // Flux within 7 pixels; within 4 against the noise there, which a blur would cost.
      double flux[2] = {0, 0}, core[2] = {0, 0};
      for (const auto& p : stars) {
        flux[0] += s.Flux(p[0], p[1], 7), flux[1] += r.Flux(p[0], p[1], 7);
        core[0] += s.Flux(p[0], p[1], 4), core[1] += r.Flux(p[0], p[1], 4);
        double xs = p[0], ys = p[1], xr = p[0], yr = p[1];
        s.Centre(xs, ys);
        r.Centre(xr, yr);
        f.PlaceRms += (xs - xr) * (xs - xr) + (ys - yr) * (ys - yr);
        ++placed;
      }
      f.Flux[size_t(q)] = flux[0] / flux[1] / sky;
      if (mode != 5) continue;  // a mean keeps the frames' defects
      // A single frame's noise: the mean of four frames' at the same places of the sky.
      double single = 0;
      for (size_t k = 0; k < night.Frames.size(); k += night.Frames.size() / 4) {
        std::vector<std::array<double, 2>> places;
        for (const auto& b : blank) {
          double x, y;
          night.ToFrame(night.Frames[k], b[0], b[1], x, y);
          places.push_back({x, y});
        }
        single += TPlaneMeasure{night.Frames[k].Rgb[size_t(q)], W, H}.ApertureNoise(places) / 4;
      }
      f.Noise[size_t(q)] = s.ApertureNoise(blank) / core[0] / (single / core[1] / std::sqrt(double(f.Frames)));
      f.Stray += Stray(night, s);
    }
    f.PlaceRms = std::sqrt(f.PlaceRms / std::max(placed, 1));
    std::printf(
        "%d frames, %d marks, mode %d: flux %.3f %.3f %.3f, noise/ideal %.3f %.3f %.3f, places rms %.3f, stray %d\n",
        f.Frames, marks, mode, f.Flux[0], f.Flux[1], f.Flux[2], f.Noise[0], f.Noise[1], f.Noise[2], f.PlaceRms,
        f.Stray);
    return f;
  }

  // Pixels away from the stars' cores that stand above the median of their
  // 5 x 5 neighbours by more than 7 times the spread of such differences.
  static int Stray(const TNight& night, const TPlaneMeasure& s) {
    const auto excess = [&](int x, int y) {
      std::vector<double> around;
      for (int j = -2; j <= 2; ++j)
        for (int i = -2; i <= 2; ++i) around.push_back(s.At(x + i, y + j));
      return s.At(x, y) - TPlaneMeasure::Median(std::move(around));
    };
    std::vector<double> spread;
    std::vector<uint8_t> core(s.V.size(), 0);
    for (int y = 2; y < s.H - 2; y += 3)
      for (int x = 2; x < s.W - 2; x += 3) spread.push_back(std::fabs(excess(x, y)));
    for (const TNight::TStar& star : night.Stars)
      for (int y = std::max(0, int(star.Y) - 9); y <= std::min(s.H - 1, int(star.Y) + 9); ++y)
        for (int x = std::max(0, int(star.X) - 9); x <= std::min(s.W - 1, int(star.X) + 9); ++x)
          core[size_t(y) * s.W + x] = 1;
    const double limit = 7 * 1.4826 * TPlaneMeasure::Median(spread);
    int stray = 0;
    for (int y = 25; y < s.H - 25; ++y)
      for (int x = 25; x < s.W - 25; ++x) stray += !core[size_t(y) * s.W + x] && excess(x, y) > limit;
    return stray;
  }
};

TEST_F(StackNightTest, TwoMarksOnTurnedFramesAndOneOnShiftedFramesKeepTheStars) {
  for (const bool turned : {true, false}) {
    SCOPED_TRACE(turned ? "2 marks, turned frames" : "1 mark, shifted frames");
    const TNight night({.Turned = turned});
    // "Add" combines into the target frame by frame, "Sigma" stacks at the end.
    for (const int mode : {5, 0}) {
      if (mode == 0 && !turned) continue;
      const TStackFigures f = StackOf(night, turned ? 2 : 1, mode);
      EXPECT_EQ(f.Frames, night.Shape.Frames);
      for (int q = 0; q < 3; ++q) EXPECT_NEAR(f.Flux[size_t(q)], 1.0, 0.05) << "mode " << mode << ", plane " << q + 1;
      if (mode == 0) continue;
      for (int q = 0; q < 3; ++q) EXPECT_LE(f.Noise[size_t(q)], 1.15) << "plane " << q + 1;
      EXPECT_LE(f.PlaceRms, 0.1);
      EXPECT_EQ(f.Stray, 0);
    }
  }
}

}  // namespace
}  // namespace astrelon::test
