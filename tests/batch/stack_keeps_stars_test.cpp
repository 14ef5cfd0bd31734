// Stacks of a dithered, turned one-shot-colour night through the batch as the
// user runs it ("Zur Zieldatei addieren" with one or two marked stars): the
// stars keep their flux against the sky and their places, the noise per unit
// of star flux is what the frames' count gives, and nothing of the sensor's
// defects or the hits is left in a "Sigma" stack.
#include <cstdio>
#include <string>

#include "marked_run_fixture.h"
#include "night_frames.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

struct TStackFigures {
  std::array<double, 3> Flux{}, Noise{};  // against the reference frame; noise against the ideal
  double PlaceRms = 0, PlaceMax = 0;      // stack centres against the reference frame's
  int Stray = 0;                          // defect pixels standing out of the stack
  int Frames = 0;                         // frames stacked
};

class StackNightTest : public MarkedRunTest {
protected:
  // Runs the night through the batch with `marks` marks and the combination
  // `mode` (0 "Add", 5 "Sigma") and measures the stack.
  TStackFigures StackOf(const TNight& night, int marks, int mode) {
    const TNightShape& n = night.Shape;
    Restart();
    for (size_t k = 0; k < night.Frames.size(); ++k) {
      const auto& rgb = night.Frames[k].Rgb;
      char name[32];
      std::snprintf(name, sizeof name, "n%04zu.fit", k + 1);
      WriteImage(name, n.W, n.H, {rgb[0], rgb[1], rgb[2]});
    }
    const std::vector<size_t> stars = Measured(night);
    // The marks: the two measured stars farthest apart.
    // The marks: the two stars standing alone.
    const size_t m1 = 0, m2 = 1;
    const std::string target = "stack" + std::to_string(marks) + "_" + std::to_string(mode) + ".fit";
    Files(dir.file("n0001.fit"), target);
    MarkedAddBatch(marks);
    BatchRun.CombineMode = mode;
    answer = [&](int prompt, int t, int) {
      if (prompt == 1) {
        FakeWindow& w = windows[size_t(t)];
        w.sel1 = true;
        w.rect1 = BoxAround(night.Stars[m1].X, night.Stars[m1].Y, 12);
        w.sel2 = marks == 2;
        w.rect2 = BoxAround(night.Stars[m2].X, night.Stars[m2].Y, 12);
        Ok(true);
      } else {
        // A later frame asks: its stars could not be confirmed, the user leaves it out.
        BatchRun.SkipImage = true;
        BatchRun.CheckStars = false;
        BatchRun.PromptAnswered = true;
      }
    };
    EXPECT_TRUE(Start());
    Run();
    EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
    FreeSlot(48);
    EXPECT_TRUE(LoadImageFile(48, dir.file(target)));
    TStackFigures f;
    const TNight::TFrame& first = night.Frames[0];
    const int stacked = std::atoi(labels.Label1.c_str());
    f.Frames = stacked;
    std::vector<std::array<double, 2>> blank;
    for (int y = 45; y < n.H - 45; y += 4)
      for (int x = 45; x < n.W - 45; x += 4) {
        bool free = !night.NearGalaxy(x, y);
        for (const TNightStar& s : night.Stars) free = free && std::hypot(s.X - x, s.Y - y) > 12;
        if (free) blank.push_back({double(x), double(y)});
      }
    const std::vector<uint8_t> spoilt = mode == 5 ? Spoilt(night) : std::vector<uint8_t>();
    double place2 = 0;
    for (int q = 0; q < 3; ++q) {
      const std::vector<float> stack = PlaneValues(48, q + 1);
      const TPlaneMeasure s{stack, n.W, n.H}, r{first.Rgb[size_t(q)], n.W, n.H};
      const double skyS = TPlaneMeasure::Median({stack.begin(), stack.end()});
      const double skyR = TPlaneMeasure::Median({first.Rgb[size_t(q)].begin(), first.Rgb[size_t(q)].end()});
      // The stars' flux within 7 pixels, and within 4 against the noise there
      // (so that a stack's blur costs what it costs a measurement).
      double fluxS = 0, fluxR = 0, coreS = 0, coreR = 0;
      for (size_t k : stars) {
        const TNightStar& star = night.Stars[k];
        fluxS += s.Flux(star.X, star.Y);
        fluxR += r.Flux(star.X, star.Y);
        coreS += s.Flux(star.X, star.Y, 4);
        coreR += r.Flux(star.X, star.Y, 4);
        if (star.Flux < 3e4) continue;
        double xs = star.X, ys = star.Y, xr = star.X, yr = star.Y;
        s.Centre(xs, ys);
        r.Centre(xr, yr);
        const double d = std::hypot(xs - xr, ys - yr);
        place2 += d * d;
        f.PlaceMax = std::max(f.PlaceMax, d);
        ++f.PlaceRms;
      }
      f.Flux[size_t(q)] = (fluxS / skyS) / (fluxR / skyR);
      // A mean keeps the frames' defects: its noise and strays are not measured.
      if (mode != 5) continue;
      // A single frame's noise: the mean over four frames at the same places of the sky.
      double single = 0;
      for (size_t k = 0; k < night.Frames.size(); k += night.Frames.size() / 4) {
        std::vector<std::array<double, 2>> places;
        for (const auto& b : blank) {
          double x, y;
          night.ToFrame(night.Frames[k], b[0], b[1], x, y);
          places.push_back({x, y});
        }
        single += TPlaneMeasure{night.Frames[k].Rgb[size_t(q)], n.W, n.H}.ApertureNoise(places, 4) / 4;
      }
      const double ideal = single / coreR / std::sqrt(double(stacked));
      f.Noise[size_t(q)] = s.ApertureNoise(blank, 4) / coreS / ideal;
      f.Stray += Stray(night, q, stack, spoilt);
    }
    f.PlaceRms = std::sqrt(place2 / std::max(1.0, f.PlaceRms));
    std::printf("%d frames, %d marks, mode %d: flux %.3f %.3f %.3f, noise/ideal %.3f %.3f %.3f, places rms %.3f max %.3f, "
                "stray %d\n",
                stacked, marks, mode, f.Flux[0], f.Flux[1], f.Flux[2], f.Noise[0], f.Noise[1], f.Noise[2], f.PlaceRms,
                f.PlaceMax, f.Stray);
    return f;
  }

  static double Distance(const TNight& night, size_t a, size_t b) {
    return std::hypot(night.Stars[a].X - night.Stars[b].X, night.Stars[a].Y - night.Stars[b].Y);
  }
  // Stars well inside every frame, 20 pixels from any other and off the galaxy.
  static std::vector<size_t> Measured(const TNight& night) {
    std::vector<size_t> out;
    for (size_t k = 0; k < night.Stars.size(); ++k) {
      const TNightStar& s = night.Stars[k];
      bool alone = s.Flux >= 2e4 && s.X > 45 && s.Y > 45 && s.X < night.Shape.W - 45 && s.Y < night.Shape.H - 45 &&
                   !night.NearGalaxy(s.X, s.Y);
      for (size_t j = 0; j < night.Stars.size(); ++j) alone = alone && (j == k || Distance(night, j, k) > 20);
      if (alone) out.push_back(k);
    }
    return out;
  }
  // Pixels of the first frame's grid where some frame had a defect (or next
  // to it), away from the stars' cores.
  static std::vector<uint8_t> Spoilt(const TNight& night) {
    const int W = night.Shape.W, H = night.Shape.H;
    std::vector<uint8_t> spoilt(size_t(W) * H, 0);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        for (const TNight::TFrame& f : night.Frames) {
          double fx, fy;
          night.ToFrame(f, x, y, fx, fy);
          const int ix = int(std::nearbyint(fx)), iy = int(std::nearbyint(fy));
          if (ix >= 1 && iy >= 1 && ix < W - 1 && iy < H - 1)
            for (int j = -1; j <= 1; ++j)
              for (int i = -1; i <= 1; ++i) spoilt[size_t(y) * W + x] |= f.Defect[size_t(iy + j) * W + ix + i];
        }
    for (const TNightStar& s : night.Stars)
      for (int y = std::max(0, int(s.Y) - 10); y <= std::min(H - 1, int(s.Y) + 10); ++y)
        for (int x = std::max(0, int(s.X) - 10); x <= std::min(W - 1, int(s.X) + 10); ++x)
          if (std::hypot(x - s.X, y - s.Y) < 2.8 * night.Alpha()) spoilt[size_t(y) * W + x] = 0;
    return spoilt;
  }
  // Spoilt pixels of plane q that stand more than 6 sigma above the truth in the stack.
  static int Stray(const TNight& night, int q, const std::vector<float>& stack, const std::vector<uint8_t>& spoilt) {
    const int W = night.Shape.W, H = night.Shape.H;
    const double alpha = night.Alpha(), norm = (TNight::Beta - 1) / (std::numbers::pi * alpha * alpha);
    const double tint = q == 0 ? 1.25 : q == 2 ? 0.75 : 1;
    std::vector<double> residual(stack.size());
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        // The gradient lies on the sensor: the stack holds its mean over the frames' places.
        double sky = 0;
        for (const TNight::TFrame& f : night.Frames) {
          double fx, fy;
          night.ToFrame(f, x, y, fx, fy);
          sky += night.Gradient(fx, fy) / double(night.Frames.size());
        }
        residual[size_t(y) * W + x] = stack[size_t(y) * W + x] - TNight::SkyLevel[size_t(q)] * sky - night.Galaxy(x, y) * tint;
      }
    for (const TNightStar& s : night.Stars)
      for (int y = std::max(0, int(s.Y) - 32); y <= std::min(H - 1, int(s.Y) + 32); ++y)
        for (int x = std::max(0, int(s.X) - 32); x <= std::min(W - 1, int(s.X) + 32); ++x) {
          const double r2 = ((x - s.X) * (x - s.X) + (y - s.Y) * (y - s.Y)) / (alpha * alpha);
          residual[size_t(y) * W + x] -= s.Flux * norm * std::pow(1 + r2, -TNight::Beta);
        }
    const double offset = TPlaneMeasure::Median(residual);
    std::vector<double> spread;
    for (double r : residual) spread.push_back(std::fabs(r - offset));
    const double sigma = 1.4826 * TPlaneMeasure::Median(spread);
    int stray = 0;
    for (int y = 25; y < H - 25; ++y)
      for (int x = 25; x < W - 25; ++x)
        stray += spoilt[size_t(y) * W + x] && residual[size_t(y) * W + x] - offset > 6 * sigma;
    return stray;
  }
};

TEST_F(StackNightTest, TwoMarksOnTurnedFramesAndOneOnShiftedFramesKeepTheStars) {
  for (const bool turned : {true, false}) {
    SCOPED_TRACE(turned ? "2 marks, turned frames" : "1 mark, shifted frames");
    TNightShape shape;
    shape.Turned = turned;
    const TNight night(shape);
    // "Add" on the turned frames: the combination into the target, not the stack's.
    for (const int mode : {5, 0}) {
      if (mode == 0 && !turned) continue;
      SCOPED_TRACE(mode == 5 ? "Sigma" : "Add");
      const TStackFigures f = StackOf(night, turned ? 2 : 1, mode);
      EXPECT_EQ(f.Frames, shape.Frames);
      for (int q = 0; q < 3; ++q) EXPECT_NEAR(f.Flux[size_t(q)], 1.0, 0.05) << "plane " << q + 1;
      // A mean keeps the frames' defects, which the places and the noise would measure.
      if (mode != 5) continue;
      for (int q = 0; q < 3; ++q) EXPECT_LE(f.Noise[size_t(q)], 1.15) << "plane " << q + 1;
      EXPECT_LE(f.PlaceRms, 0.1);
      EXPECT_EQ(f.Stray, 0);
    }
  }
}

// The night at its full size, by hand: --gtest_also_run_disabled_tests.
TEST_F(StackNightTest, DISABLED_TheWholeNightAtFullSize) {
  for (const bool turned : {true, false}) {
    TNightShape shape{.W = 1600, .H = 1200, .Frames = 16};
    shape.Turned = turned;
    const TNight night(shape);
    for (const int mode : {5, 0}) StackOf(night, turned ? 2 : 1, mode);
  }
}

}  // namespace
}  // namespace astrelon::test
