// Bright-disc finder and sun-surface flattening on drawn discs: the centre to
// half a pixel, the line limits at the four edges, the sub-pixel shift, the
// batch's threshold, and the flattened profile of uniform and limb-darkened discs.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "../planes/simd_paths.h"
#include "core/batch_state.h"
#include "kernels/alignment/bright_disc.h"
#include "kernels/alignment/match_quality.h"
#include "pixelops/flattening/sun_surface.h"
#include "slot_images.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class BrightDiscTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    MatchQuality = 99.0;
  }
  void TearDown() override {
    BatchRunning = 0;
    BatchDiscThreshold.clear();
    StoreTest::TearDown();
  }
};

// A w x h plane from value(x, y).
std::vector<float> Drawn(int w, int h, const std::function<float(int, int)>& value) {
  std::vector<float> v(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) v[size_t(y) * size_t(w) + size_t(x)] = value(x, y);
  return v;
}

// A disc of radius rd at (cx, cy): v0 (0.4 + 0.6 sqrt(1 - r^2)) when limb-darkened,
// else v0; the sky 100 with Gaussian noise of the given sigma.
std::vector<float> Disc(int w, int h, double cx, double cy, double rd, float v0, bool limbDark, float noise) {
  std::mt19937 rng(5);
  std::normal_distribution<float> sky(0.0f, noise);
  return Drawn(w, h, [&](int x, int y) {
    const double r = std::hypot(x - cx, y - cy) / rd;
    const float n = noise > 0 ? sky(rng) : 0.0f;
    if (r >= 1) return 100.0f + n;
    return float(limbDark ? v0 * (0.4 + 0.6 * std::sqrt(1 - r * r)) : v0) + n;
  });
}

TEST_F(BrightDiscTest, LimbDarkenedDiscInNoise) {
  PutImage(1, 400, 300, {Disc(400, 300, 200.3, 150.6, 100, 10000, true, 20)});
  WholeImageRect(1);
  const TBrightDisc d = FindBrightDisc(1);
  EXPECT_NEAR(d.CentreX, 200.3, 0.5);
  EXPECT_NEAR(d.CentreY, 150.6, 0.5);
  EXPECT_NEAR(d.RightEdge - d.LeftEdge, 201, 1.0);
  EXPECT_NEAR(d.BottomEdge - d.TopEdge, 201, 1.0);
  EXPECT_EQ(d.Quality, 99.0);
  EXPECT_EQ(MatchQuality, 99.0);
  EXPECT_LT(std::hypot(d.BrightestX - 200.3, d.BrightestY - 150.6), 100);
}

TEST_F(BrightDiscTest, FlatImageAndOnePixelWideImageHaveNoDisc) {
  PutImage(1, 50, 40, {std::vector<float>(2000, 7.0f)});
  WholeImageRect(1);
  const TBrightDisc d = FindBrightDisc(1);
  EXPECT_EQ(d.Quality, 0.0);
  EXPECT_EQ(MatchQuality, 0.0);
  // The left search of a one-pixel-wide image starts in column 1, outside it.
  MatchQuality = 99.0;
  PutImage(2, 1, 6, {{0, 0, 9, 9, 0, 0}});
  WholeImageRect(2);
  EXPECT_EQ(FindBrightDisc(2).Quality, 0.0);
  EXPECT_EQ(MatchQuality, 0.0);
}

TEST_F(BrightDiscTest, EdgeLinesAtTheLimitAndTheSubPixelShift) {
  // 251 columns: at most 4 pixels per line do not make a disc (limit 4). Rows
  // 10..29 are bright; rows 9 and 30 have exactly 4 bright pixels. Columns
  // 100..149 are bright with their rightmost column at 400 (threshold 300).
  const int w = 251, h = 40;
  PutImage(1, w, h, {Drawn(w, h, [](int x, int y) {
             if ((y == 9 || y == 30) && x >= 120 && x < 124) return 1000.0f;
             if (y < 10 || y > 29 || x < 100 || x > 149) return 0.0f;
             return x == 149 ? 400.0f : 1000.0f;
           })});
  WholeImageRect(1);
  const TBrightDisc d = FindBrightDisc(1);
  // At the top row 9 still belongs to the disc; at the bottom row 30 ends it.
  // Inner means: row 9 1000, row 29 988 (one pixel of 400): a shift of -0.006.
  EXPECT_DOUBLE_EQ(d.TopEdge, 8.0 - 0.006);
  EXPECT_DOUBLE_EQ(d.BottomEdge, 30.0 - 0.006);
  // Left and right inner means 1000 and 400 over 2 (1000 - 0): a shift of -0.3.
  EXPECT_DOUBLE_EQ(d.LeftEdge, 99.0 - 0.3);
  EXPECT_DOUBLE_EQ(d.RightEdge, 150.0 - 0.3);
  EXPECT_FLOAT_EQ(d.CentreX, float(124.5 - 0.3));
  EXPECT_FLOAT_EQ(d.CentreY, float(19.0 - 0.006));
  EXPECT_EQ(d.Quality, 99.0);

  // A batch threshold of 50 % leaves the column of 400 outside the disc.
  BatchRunning = 1;
  BatchDiscThreshold = "50.0";
  WholeImageRect(1);
  EXPECT_DOUBLE_EQ(FindBrightDisc(1).RightEdge, 149.0);
  BatchRunning = 0;
  WholeImageRect(1);
  EXPECT_DOUBLE_EQ(FindBrightDisc(1).RightEdge, 150.0 - 0.3);
}

// The disc search on every vector path and with bands on threads gives the bits
// of the scalar search on one thread: row sums added by lanes where they are
// exact, pixel by pixel where they may round (a threshold near zero or below).
// The vector paths take the background level in the disc's own pass (pixels
// near the threshold kept until the level is known, a range of the plane
// measured when it was last changed to bound it: a stale one only costs a
// second pass); the scalar path takes it first.
TEST_F(BrightDiscTest, EveryPathAndThreadCountGivesTheSameDisc) {
  const int w = 613, h = 407;
  struct TCase {
    const char* Name;
    std::vector<float> Plane;
    const char* BatchThreshold;  // empty: the interactive 30 %
    TWorkRect Rect;              // x2 < 0: the whole image
    bool StaleRange = false;     // the plane's stored minimum and maximum wrong
  };
  // A dim disc whose edge falls over 30 pixels: many pixels near the
  // threshold. In whole numbers the level's window holds one value, and the
  // level lies up to half a bin from it: outside bounds from a stale range.
  std::mt19937 soft(6);
  std::normal_distribution<float> sky(0.0f, 4.0f);
  const std::vector<float> softEdge = Drawn(w, h, [&](int x, int y) {
    const double r = std::hypot(x - 301.4, y - 199.2);
    return float(100 + 500 * std::clamp((160 - r) / 30, 0.0, 1.0)) + sky(soft);
  });
  std::vector<float> wholeNumbers = softEdge;
  for (float& v : wholeNumbers) v = std::nearbyint(v);
  // A disc of a million on a sky of millionths: a threshold near zero lets
  // both into the line sums, which then round.
  std::vector<float> tiny = Disc(w, h, 300.2, 200.7, 150, 1e6f, true, 0);
  std::mt19937 rng(4);
  for (float& v : tiny) v = v - 100.0f + std::uniform_real_distribution<float>(1e-7f, 1e-5f)(rng);
  std::vector<float> dim = Disc(w, h, 290, 210, 120, 600, true, 5);
  for (float& v : dim) v -= 600.0f;
  std::vector<float> holes = Disc(w, h, 310, 190, 140, 20000, false, 30);
  for (size_t i = 0; i < holes.size(); i += 53) holes[i] = i % 2 ? BlankPixel : std::numeric_limits<float>::quiet_NaN();
  const TCase cases[] = {
      {"limb-darkened disc", Disc(w, h, 300.2, 200.7, 150, 10000, true, 20), "", {0, -1, 0, -1}},
      {"sums that round", tiny, "0.0000000001", {0, -1, 0, -1}},
      {"threshold below zero", dim, "", {0, -1, 0, -1}},
      {"blanks in a rectangle", holes, "", {40, 580, 7, 390}},
      {"soft edge", softEdge, "", {0, -1, 0, -1}},
      {"soft edge in a rectangle", softEdge, "", {20, 600, 3, 400}},
      {"whole numbers, stale range", wholeNumbers, "", {20, 600, 3, 400}, true},
  };
  for (const TCase& c : cases) {
    TBrightDisc reference;
    double referenceQuality = 0;
    bool first = true;
    for (TPath path : AvailablePaths())
      for (bool multicore : {false, true}) {
        PathGuard guard(path);
        MulticoreGuard threads(multicore);
        BatchRunning = *c.BatchThreshold ? 1 : 0;
        BatchDiscThreshold = c.BatchThreshold;
        PutImage(1, w, h, {c.Plane});
        if (c.StaleRange) Store.Image[1].PlaneMin[1] = Store.Image[1].PlaneMax[1] = 300.0f;
        if (c.Rect.x2 < 0)
          WholeImageRect(1);
        else
          WorkRect = c.Rect;
        MatchQuality = 99.0;
        const TBrightDisc d = FindBrightDisc(1);
        if (first) {
          reference = d;
          referenceQuality = MatchQuality;
          first = false;
          continue;
        }
        const std::string what = std::string(c.Name) + " " + PathName(path) + (multicore ? " threads" : "");
        EXPECT_EQ(reference.LeftEdge, d.LeftEdge) << what;
        EXPECT_EQ(reference.RightEdge, d.RightEdge) << what;
        EXPECT_EQ(reference.TopEdge, d.TopEdge) << what;
        EXPECT_EQ(reference.BottomEdge, d.BottomEdge) << what;
        EXPECT_EQ(reference.CentreX, d.CentreX) << what;
        EXPECT_EQ(reference.CentreY, d.CentreY) << what;
        EXPECT_EQ(reference.BrightestX, d.BrightestX) << what;
        EXPECT_EQ(reference.BrightestY, d.BrightestY) << what;
        EXPECT_EQ(reference.Quality, d.Quality) << what;
        EXPECT_EQ(referenceQuality, MatchQuality) << what;
      }
  }
}

// Relative radius (199 at the limb) of a pixel for the measured disc.
double RelativeRadius(const TBrightDisc& d, int x, int y) {
  const double ax = d.RightEdge - d.CentreX, ay = d.BottomEdge - d.CentreY;
  return std::hypot((x - d.CentreX) * 199 / ax, (y - d.CentreY) * 199 / ay);
}

TEST_F(BrightDiscTest, SunSurfaceOfUniformAndLimbDarkenedDiscs) {
  struct Case {
    bool limbDark;
    double flatWithin, tolerance;
  };
  for (const Case& c : {Case{false, 190, 0.01}, Case{true, 170, 0.02}}) {
    PutImage(1, 300, 260, {Disc(300, 260, 150.4, 129.7, 100, 1000, c.limbDark, 0)});
    WholeImageRect(1);
    const TBrightDisc d = FindBrightDisc(1);
    ASSERT_TRUE(FlattenSunSurface(1, d));
    const TImageSlot& im = Store.Image[1];
    for (int y = 0; y < im.Height; ++y)
      for (int x = 0; x < im.Width; ++x) {
        const double r = RelativeRadius(d, x, y);
        const float v = im.At(1, x, y);
        if (r < c.flatWithin) ASSERT_NEAR(v, 1000, 1000 * c.tolerance) << x << "," << y;
        if (r >= 204) ASSERT_EQ(v, 0.0f) << x << "," << y;
      }
  }
}

TEST_F(BrightDiscTest, SunSurfaceMeasuresGreenAndScalesEverySelectedPlane) {
  const int w = 200, h = 200;
  const std::vector<float> g = Disc(w, h, 100, 100, 70, 1000, true, 0);
  std::vector<float> r = g, b(g.size(), 50.0f);
  for (float& v : r) v *= 0.5f;
  b[0] = BlankPixel;
  PutImage(1, w, h, {r, g, b});
  WholeImageRect(1);
  const TBrightDisc d = FindBrightDisc(1);
  ASSERT_TRUE(FlattenSunSurface(1, d));
  const TImageSlot& im = Store.Image[1];
  for (size_t i = 0; i < g.size(); ++i) ASSERT_NEAR(im.Planes[1][i], 0.5f * im.Planes[2][i], 1e-3f * im.Planes[2][i]);
  EXPECT_EQ(im.Planes[3][0], BlankPixel);
  EXPECT_NEAR(im.At(2, 100, 100), 1000, 10);
  EXPECT_NEAR(im.At(3, 100, 100), 50, 1);
  EXPECT_GT(im.At(3, 100, 165), 60);  // near the limb the factor grows
}

TEST_F(BrightDiscTest, SunSurfaceGuardsDegenerateDiscs) {
  PutImage(1, 40, 30, {Disc(40, 30, 20, 15, 10, 1000, false, 0)});
  // Semi-axes of 0 are taken as 1; a disc far larger than the image samples
  // only its inner rings; both leave every pixel a finite number.
  for (const TBrightDisc& d : {TBrightDisc{.LeftEdge = 20, .RightEdge = 20, .TopEdge = 15, .BottomEdge = 15,
                                           .CentreX = 20, .CentreY = 15},
                               TBrightDisc{.LeftEdge = -980, .RightEdge = 1020, .TopEdge = -985, .BottomEdge = 1015,
                                           .CentreX = 20, .CentreY = 15}}) {
    PutImage(1, 40, 30, {Disc(40, 30, 20, 15, 10, 1000, false, 0)});
    ASSERT_TRUE(FlattenSunSurface(1, d));
    for (float v : Plane(1, 1)) ASSERT_TRUE(std::isfinite(v) && v >= 0) << v;
  }
  // Without any valid sample the slot stays as it was.
  PutImage(2, 8, 8, {std::vector<float>(64, BlankPixel)});
  const TBrightDisc d{.LeftEdge = 1, .RightEdge = 7, .TopEdge = 1, .BottomEdge = 7, .CentreX = 4, .CentreY = 4};
  EXPECT_FALSE(SunSurfaceProfile(2, d).has_value());
  EXPECT_FALSE(FlattenSunSurface(2, d));
  EXPECT_EQ(Plane(2, 1), std::vector<float>(64, BlankPixel));
}

TEST_F(BrightDiscTest, SunSurfaceIsTheSameOnAnyNumberOfThreads) {
  const int w = 900, h = 700;
  PutImage(1, w, h, {Disc(w, h, 450, 350, 300, 5000, true, 30)});
  WholeImageRect(1);
  const TBrightDisc d = FindBrightDisc(1);
  std::vector<float> one, many;
  {
    MulticoreGuard off(false);
    PutImage(1, w, h, {Disc(w, h, 450, 350, 300, 5000, true, 30)});
    ASSERT_TRUE(FlattenSunSurface(1, d));
    one = Plane(1, 1);
  }
  MulticoreGuard on(true);
  PutImage(1, w, h, {Disc(w, h, 450, 350, 300, 5000, true, 30)});
  ASSERT_TRUE(FlattenSunSurface(1, d));
  many = Plane(1, 1);
  EXPECT_EQ(0, std::memcmp(one.data(), many.data(), one.size() * sizeof(float)));
}

TEST_F(BrightDiscTest, SunSurfaceVectorPathsGiveTheScalarBits) {
  // Radii inside the limb, at it, in the fade and beyond; a profile that dips
  // below the 0.001 floor.
  std::array<double, 206> s{};
  for (size_t i = 0; i < s.size(); ++i) s[i] = 1000.0 - 4.9 * double(i);
  s[50] = 0.0;
  const TSunFactorTable table = MakeSunFactorTable(s);
  std::vector<float> column;
  for (int i = 0; i < 203; ++i) column.push_back(float(i * i) * 1.0101f);
  for (float rowTerm : {0.0f, 2500.5f, 39601.0f, 41616.0f}) {
    std::vector<float> scalar(column.size()), vector(column.size());
    SunSurfaceFactors(column, rowTerm, table, scalar, false);
    for (TPath path : VectorPaths()) {
      PathGuard guard(path);
      SunSurfaceFactors(column, rowTerm, table, vector, guard.Vector());
      EXPECT_EQ(0, std::memcmp(scalar.data(), vector.data(), scalar.size() * sizeof(float))) << PathName(path);
    }
  }
  // The whole pass, blank pixels included.
  std::vector<float> v = Disc(301, 203, 150, 100, 80, 3000, true, 10);
  for (size_t i = 0; i < v.size(); i += 37) v[i] = BlankPixel;
  std::vector<float> reference;
  for (TPath path : AvailablePaths()) {
    PathGuard guard(path);
    PutImage(1, 301, 203, {v});
    WholeImageRect(1);
    ASSERT_TRUE(FlattenSunSurface(1, FindBrightDisc(1)));
    if (reference.empty()) reference = Plane(1, 1);
    else EXPECT_EQ(0, std::memcmp(reference.data(), Store.Image[1].Planes[1].data(), v.size() * 4)) << PathName(path);
  }
}

}  // namespace
}  // namespace astrelon::test
