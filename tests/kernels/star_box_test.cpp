// A box measures its own star: a star as bright or brighter just outside any
// edge of the box is never taken instead of the box's own (the unconfined
// search around the box's brightest place, transcribed in numpy, takes it), a
// star inside measures as it always did, a box without a star of its own
// measures a star whose light reaches it from just beyond its edge (a loosely
// drawn box, a star that moved since the last image) at its centre with its
// own quality, a box of empty sky measures nothing, and a point (a box of a
// pixel) is still searched around. The rule over every kind of box is the
// table of star_box_rule_test.cpp.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "../pixelops/slot_images.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "fake_window.h"
#include "kernels/alignment/alignment_points.h"
#include "kernels/alignment/brightest_in_work_rect.h"
#include "kernels/alignment/stars/find_star_centroid.h"
#include "kernels/alignment/match_quality.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "shell/stars/star_pick.h"
#include "store/planes/image_statistics.h"
#include "star_box_fixture.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr int W = 64, H = 64;
constexpr double Sky = 1000;

struct TDrawnStar {
  double X, Y, Peak, Sigma;
};

// The light of a star at pixel (x, y); on a colour mosaic (RGGB) red sites
// see 0.6 and blue 0.4 of it.
double Light(const TDrawnStar& s, int x, int y, bool mosaic) {
  const int site = (y & 1) * 2 + (x & 1);
  const double f = !mosaic ? 1.0 : site == 0 ? 0.6 : site == 3 ? 0.4 : 1.0;
  return f * s.Peak * std::exp(-((x - s.X) * (x - s.X) + (y - s.Y) * (y - s.Y)) / (2 * s.Sigma * s.Sigma));
}

// Gaussian stars on the sky with noise, whole 16-bit levels.
std::vector<float> Field(const std::vector<TDrawnStar>& stars, uint32_t seed, bool mosaic = false,
                         double noiseLevel = 6) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0, noiseLevel);
  std::vector<float> v(size_t(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      double light = 0;
      for (const TDrawnStar& s : stars) light += Light(s, x, y, mosaic);
      v[size_t(y) * W + x] = float(std::clamp(std::nearbyint(Sky + light + noise(random)), 0.0, 65535.0));
    }
  return v;
}

enum class TEdge { Left, Right, Top, Bottom };

// A star `gap` pixels beyond an edge of the box, level with `at` (a little off).
TDrawnStar Beyond(const TWorkRect& box, TEdge edge, double gap, const TDrawnStar& at, double peak) {
  switch (edge) {
    case TEdge::Left: return {box.x1 - gap, at.Y + 0.3, peak, 1.4};
    case TEdge::Right: return {box.x2 + gap, at.Y - 0.4, peak, 1.4};
    case TEdge::Top: return {at.X + 0.35, box.y1 - gap, peak, 1.4};
    default: return {at.X - 0.25, box.y2 + gap, peak, 1.4};
  }
}

TWorkRect BoxAround(double x, double y, int half) {
  const int cx = int(std::nearbyint(x)), cy = int(std::nearbyint(y));
  return {cx - half, cx + half, cy - half, cy + half};
}

bool Inside(const TWorkRect& r, TFloatPoint p) { return p.X >= r.x1 && p.X <= r.x2 && p.Y >= r.y1 && p.Y <= r.y2; }

class StarBoxTest : public StarBoxFixture {
protected:
  // The star of the box in slot 1 holding `stars`: its position, and the
  // quality its measurement gives.
  TFloatPoint Measure(const std::vector<TDrawnStar>& stars, const TWorkRect& box, double& quality,
                      bool mosaic = false, uint32_t seed = 7, double noise = 6) {
    PutImage(1, W, H, {Field(stars, seed, mosaic, noise)});
    MatchQuality = 99;
    TStarSearchOptions o;
    o.IsMosaic = mosaic;
    FindStarCentroid(1, box, -1, 1, o);
    quality = MatchQuality;
    return StarPosition;
  }
};

TEST_F(StarBoxTest, AStarAsBrightOrBrighterJustOutsideAnyEdgeIsNeverTaken) {
  struct Case {
    double sigma;  // the marked star (1.06: a comet's nucleus of 2.5 pixels)
    int half;      // the box: 2 half + 1 pixels square
    bool mosaic;
  } cases[] = {{1.06, 5, false}, {1.06, 8, false}, {1.6, 8, false}, {1.4, 7, true}};
  for (const Case& c : cases) {
    const TDrawnStar star{31.3, 32.6, 3000, c.sigma};
    const TWorkRect box = BoxAround(star.X, star.Y, c.half);
    double q = 0;
    const TFloatPoint alone = Measure({star}, box, q, c.mosaic);
    ASSERT_GT(q, 10);
    // As bright from a pixel beyond the edge on, brighter a little further.
    const std::pair<double, double> neighbours[] = {{1.0, 1.0}, {1.0, 2.0}, {1.0, 4.0}, {1.5, 2.0}, {1.5, 4.0},
                                                    {3.0, 4.0}};
    for (const auto& [ratio, gap] : neighbours)
      for (const TEdge edge : {TEdge::Left, TEdge::Right, TEdge::Top, TEdge::Bottom}) {
        SCOPED_TRACE("sigma " + std::to_string(c.sigma) + " half " + std::to_string(c.half) + " ratio " +
                     std::to_string(ratio) + " edge " + std::to_string(int(edge)) + " gap " + std::to_string(gap));
        const TFloatPoint p = Measure({star, Beyond(box, edge, gap, star, ratio * star.Peak)}, box, q, c.mosaic);
        EXPECT_NEAR(p.X, alone.X, 0.03);
        EXPECT_NEAR(p.Y, alone.Y, 0.03);
        EXPECT_GT(q, 10);
      }
  }
}

// The search that reaches past the box, as the unconfined rule has it: the
// brightest 3 x 3 mean of the box gives a 32 x 32 cutout around it, whose
// brightest pixel is the star that is fitted.
TEST_F(StarBoxTest, TheUnconfinedSearchTakesTheStarOutsideWhereTheBoxKeepsItsOwn) {
  const TDrawnStar nucleus{31.3, 32.6, 3000, 1.06};
  const TWorkRect box = BoxAround(nucleus.X, nucleus.Y, 5);
  const TDrawnStar other = Beyond(box, TEdge::Right, 2, nucleus, 3300);
  TempDir dir;
  WriteFloats(dir.file("field.f32"), Field({nucleus, other}, 7));
  const std::string script =
      "import numpy as np\n"
      "W, H = " + std::to_string(W) + ", " + std::to_string(H) + "\n"
      "a = np.fromfile('" + dir.file("field.f32") + "', dtype='<f4').astype(np.float64).reshape(H, W)\n"
      "x1, x2, y1, y2 = " + std::to_string(box.x1) + ", " + std::to_string(box.x2) + ", " + std::to_string(box.y1) +
      ", " + std::to_string(box.y2) + "\n"
      "best, bx, by = -1e30, 0, 0\n"
      "for y in range(y1 + 1, y2):\n"
      "    for x in range(x1 + 1, x2):\n"
      "        m = a[y - 1:y + 2, x - 1:x + 2].mean()\n"
      "        if m > best: best, bx, by = m, x, y\n"
      "c = np.full((32, 32), -1e11)\n"
      "for j in range(32):\n"
      "    for i in range(32):\n"
      "        X, Y = bx - 15 + i, by - 15 + j\n"
      "        if 0 <= X < W and 0 <= Y < H: c[j, i] = a[Y, X]\n"
      "k = int(np.argmax(c))\n"
      "np.asarray([bx - 15 + k % 32, by - 15 + k // 32], dtype='<f4').tofile('" + dir.file("peak.f32") + "')\n";
  ASSERT_TRUE(RunPython(script));
  const std::vector<float> peak = ReadFloats(dir.file("peak.f32"));
  ASSERT_EQ(peak.size(), 2u);
  EXPECT_FALSE(Inside(box, {peak[0], peak[1]}));
  EXPECT_NEAR(peak[0], other.X, 1.0);
  EXPECT_NEAR(peak[1], other.Y, 1.0);

  double q = 0;
  const TFloatPoint alone = Measure({nucleus}, box, q);
  const TFloatPoint p = Measure({nucleus, other}, box, q);
  EXPECT_NEAR(p.X, alone.X, 0.03);
  EXPECT_NEAR(p.Y, alone.Y, 0.03);
}

// Stars inside their boxes (faint, wide, off centre, near an edge) measure to
// the same bits and quality as the analysis at the box's brightest place
// without any box; so does a star around a point, a brighter one beside it
// or not.
TEST_F(StarBoxTest, AStarInsideItsBoxOrAroundAPointMeasuresAsWithoutTheBox) {
  struct Case {
    double x, y, peak, sigma;
    TWorkRect box;
  } cases[] = {
      {31.3, 32.6, 3000, 1.06, {26, 36, 28, 38}}, {31.5, 32.5, 3000, 1.6, {25, 38, 26, 40}},
      {30.2, 33.8, 120, 1.4, {24, 36, 27, 40}},   {35.2, 29.4, 800, 1.2, {26, 36, 28, 38}},
      {31.7, 31.1, 2000, 3.2, {20, 44, 20, 44}},  {29.4, 35.8, 40000, 2.0, {20, 40, 25, 45}},
      {31.0, 32.0, 3000, 1.06, {31, 31, 32, 32}}, {32.4, 31.6, 3000, 1.3, {31, 32, 32, 33}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + ", " + std::to_string(c.y));
    // A point's search reaches the brighter star beside it, as it always did.
    const bool point = c.box.x2 - c.box.x1 < 2;
    std::vector<TDrawnStar> stars = {{c.x, c.y, c.peak, c.sigma}};
    if (point) stars.push_back({c.x + 6, c.y - 3, 2 * c.peak, 1.4});
    double q = 0;
    const TFloatPoint p = Measure(stars, c.box, q);
    // The same image without a box: the brightest place, the analysis there.
    WorkRect = c.box;
    const TBrightestInRect b = FindBrightestInWorkRect(1, 1, 1);
    PickStar(1, b.BrightestX, b.BrightestY, -1, MeasuredStar, TStarMode::Position, true, false);
    EXPECT_EQ(p.X, float(MeasuredStar.OriginX + double(MeasuredStar.CentreX)));
    EXPECT_EQ(p.Y, float(MeasuredStar.OriginY + double(MeasuredStar.CentreY)));
    TPercentileLevels levels;
    GetPercentileLevels(1, 1, WorkRect.x1, WorkRect.x2, WorkRect.y1, WorkRect.y2, 35.0, 35.0, levels);
    const float t = std::max(EstimatePlaneNoise(1, 1), 0.01f);
    // A quality below 0 (a rectangle too small for the brightest place's
    // box) is 0.
    EXPECT_DOUBLE_EQ(q, std::clamp((b.BrightestValue - levels.LevelA) / (6.0 * t), 0.0, 99.0));
    if (point) {
      EXPECT_NEAR(p.X, c.x + 6, 0.1) << "the brighter star beside the point";
    }
  }
}

// Empty sky, or a star too far outside for its light to reach the box: the
// box measures nothing of a star (quality below 1) and its point stays
// inside. The flank of a star just outside is that star's light: it is
// measured at its centre, with its own quality, on both paths.
TEST_F(StarBoxTest, EmptySkyMeasuresNothingAndAFlankMeasuresItsStar) {
  const TWorkRect box{26, 36, 28, 38};
  struct Case {
    std::vector<TDrawnStar> stars;
    bool mosaic, flank;
  } cases[] = {
      {{}, false, false},
      {{{14, 40, 5000, 1.4}}, false, false},
      {{}, true, false},
      {{{38.0, 33.0, 9000, 1.4}}, false, true},
      {{{31.0, 25.5, 20000, 1.6}}, false, true},
      {{{38.3, 33.2, 9000, 1.4}}, true, true},
      {{{24.4, 40.7, 6000, 2.0}}, true, true},
  };
  for (uint32_t seed = 1; seed <= 3; ++seed)
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.stars.size()) + " stars, seed " + std::to_string(seed) +
                   (c.mosaic ? ", mosaic" : ""));
      double q = 99;
      const TFloatPoint p = Measure(c.stars, box, q, c.mosaic, seed);
      if (c.flank) {
        EXPECT_NEAR(p.X, c.stars[0].X, 0.05);
        EXPECT_NEAR(p.Y, c.stars[0].Y, 0.05);
        EXPECT_GT(q, 10);
        EXPECT_TRUE(StarPeakOutsideBox);
      } else {
        EXPECT_LT(q, 1.0);
        EXPECT_TRUE(Inside(box, p)) << p.X << ", " << p.Y;
        EXPECT_FALSE(StarPeakOutsideBox);
      }
    }
}

// Two 480 x 360 star fields, the second moved by (5.37, -3.61): a 21 x 21
// selection around a star in the first and one in the second drawn loosely,
// the star centred 1.5, 2.5 or 3.5 pixels beyond an edge. Wherever the star's
// light reaches into the selection the point pair is the one a selection
// centred on the star gives, the move to 0.06 pixels for a bright star (and
// as far as the noise lets a fit tell for a faint one); where it does not,
// the quality says so (below 1).
TEST_F(StarBoxTest, LooselyDrawnSelectionsOfTwoFieldsGiveTheirMove) {
  constexpr int FW = 480, FH = 360;
  constexpr double Noise = 10, MoveX = 5.37, MoveY = -3.61;
  std::mt19937 random(5);
  std::uniform_real_distribution<double> across(30, FW - 30), down(30, FH - 30), sigma(1.2, 2.5), peak(6, 9.2);
  std::vector<TDrawnStar> stars;
  while (stars.size() < 40) {
    const TDrawnStar s{across(random), down(random), std::exp(peak(random)), sigma(random)};
    bool apart = true;
    for (const TDrawnStar& o : stars) apart = apart && std::hypot(s.X - o.X, s.Y - o.Y) > 30;
    if (apart) stars.push_back(s);
  }
  const auto field = [&](double dx, double dy, uint32_t seed) {
    std::mt19937 r(seed);
    std::normal_distribution<double> n(0, Noise);
    std::vector<float> v(size_t(FW) * FH);
    for (int y = 0; y < FH; ++y)
      for (int x = 0; x < FW; ++x) v[size_t(y) * FW + x] = float(Sky + n(r));
    for (const TDrawnStar& s : stars)
      for (int y = int(s.Y + dy) - 12; y <= int(s.Y + dy) + 12; ++y)
        for (int x = int(s.X + dx) - 12; x <= int(s.X + dx) + 12; ++x)
          v[size_t(y) * FW + x] += float(Light({s.X + dx, s.Y + dy, s.Peak, s.Sigma}, x, y, false));
    for (float& f : v) f = std::nearbyint(f);
    return v;
  };
  PutImage(1, FW, FH, {field(0, 0, 1)});
  PutImage(2, FW, FH, {field(MoveX, MoveY, 2)});
  FakeWindow a, b;
  Store.Window[1] = &a;
  Store.Window[2] = &b;
  Store.HasWindow[1] = Store.HasWindow[2] = 1;
  a.sel1 = b.sel1 = true;
  int measured = 0;
  const auto aroundStar = [](double x, double y) {
    return TRectI{int(std::nearbyint(x)) - 10, int(std::nearbyint(y)) - 10, int(std::nearbyint(x)) + 10,
                  int(std::nearbyint(y)) + 10};
  };
  for (const TDrawnStar& s : stars) {
    a.rect1 = aroundStar(s.X, s.Y);
    b.rect1 = aroundStar(s.X + MoveX, s.Y + MoveY);
    const TAlignPoints centred = GetAlignmentPoints(1, 2, false, -1);
    EXPECT_LT(std::hypot(centred.B1x - centred.A1x - MoveX, centred.B1y - centred.A1y - MoveY),
              s.Peak >= 1000 ? 0.06 : 0.2);
    for (const TEdge edge : {TEdge::Left, TEdge::Right, TEdge::Top, TEdge::Bottom})
      for (const double beyond : {1.5, 2.5, 3.5}) {
        const double x = s.X + MoveX, y = s.Y + MoveY;
        // The edge's pixel `beyond` short of the star's centre (to the pixel).
        TRectI r{int(std::nearbyint(x)) - 10, int(std::nearbyint(y)) - 10, 0, 0};
        if (edge == TEdge::Left) r.Left = int(std::nearbyint(x + beyond));
        if (edge == TEdge::Right) r.Left = int(std::nearbyint(x - beyond)) - 20;
        if (edge == TEdge::Top) r.Top = int(std::nearbyint(y + beyond));
        if (edge == TEdge::Bottom) r.Top = int(std::nearbyint(y - beyond)) - 20;
        r.Right = r.Left + 20;
        r.Bottom = r.Top + 20;
        b.rect1 = r;
        SCOPED_TRACE("star at " + std::to_string(x) + ", " + std::to_string(y) + " peak " + std::to_string(s.Peak) +
                     " sigma " + std::to_string(s.Sigma) + ", edge " + std::to_string(int(edge)) + ", " +
                     std::to_string(beyond) + " px beyond");
        MatchQuality = 99;
        const TAlignPoints p = GetAlignmentPoints(1, 2, false, -1);
        ASSERT_EQ(p.count, 1);
        const bool right = std::hypot(p.B1x - centred.B1x, p.B1y - centred.B1y) < 1e-4;
        EXPECT_TRUE(right || MatchQuality < 1) << "moved " << p.B1x - p.A1x << ", " << p.B1y - p.A1y
                                               << " with quality " << MatchQuality;
        measured += right;
      }
  }
  Store.Window[1] = Store.Window[2] = nullptr;
  Store.HasWindow[1] = Store.HasWindow[2] = 0;
  std::printf("%d of %zu loose selections give the move\n", measured, 12 * stars.size());
  EXPECT_GT(measured, int(11 * stars.size()));
}

}  // namespace
}  // namespace astrelon::test
