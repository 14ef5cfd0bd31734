// Filling of blank holes: single pixels, the restricted mode, empty planes,
// holes at the image edge, a hole in a ramp, repeatability, and the progress
// and abort seen by the image window.
#include <algorithm>
#include <string>
#include <vector>

#include "../pixelops/slot_images.h"
#include "../planes/simd_paths.h"
#include "fake_window.h"
#include "kernels/regions/blank_interpolation.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr float B = BlankPixel;

class BlankInterpolationTest : public StoreTest {
protected:
  void TearDown() override {
    AbortRequested = 0;
    StoreTest::TearDown();
  }
};

TEST_F(BlankInterpolationTest, OnePixelBecomesTheMeanOfItsNeighbours) {
  const std::vector<float> v{0, 10, 0, 20, B, 30, 0, 40, 0};
  for (bool allBlanks : {true, false}) {
    PutImage(1, 3, 3, {v});
    PutImage(2, 3, 3, {std::vector<float>(9, 1.0f)});
    InterpolateBlankPixels(allBlanks ? 1 : 2, 1, allBlanks, false);
    EXPECT_EQ(Plane(1, 1)[4], 25.0f) << allBlanks;
  }
}

TEST_F(BlankInterpolationTest, RestrictedModeFillsOnlyWhatTheReferenceHas) {
  // Slot 2 has pixels where slot 1 is blank in the left column; the right column
  // is blank in both and stays so.
  PutImage(1, 4, 3, {{B, 5, 5, B, B, 5, 5, B, B, 5, 5, B}});
  PutImage(2, 4, 3, {{1, 1, 1, B, 1, 1, 1, B, 1, 1, 1, B}});
  InterpolateBlankPixels(2, 1, false, false);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{5, 5, 5, B, 5, 5, 5, B, 5, 5, 5, B}));
  // The same slot twice in restricted mode has nothing to fill.
  PutImage(3, 2, 1, {{B, 7}});
  InterpolateBlankPixels(3, 3, false, false);
  EXPECT_EQ(Plane(3, 1), (std::vector<float>{B, 7}));
}

TEST_F(BlankInterpolationTest, EmptyPlanesAndEdgeHoles) {
  // An all-blank plane becomes 0; the other planes of the image are filled on their own.
  PutImage(1, 5, 4, {std::vector<float>(20, B), std::vector<float>(20, 3.0f), std::vector<float>(20, B)});
  Store.Image[1].Planes[3][7] = 8;
  InterpolateBlankPixels(1, 1, true, false);
  EXPECT_EQ(Plane(1, 1), std::vector<float>(20, 0.0f));
  EXPECT_EQ(Plane(1, 2), std::vector<float>(20, 3.0f));
  EXPECT_EQ(Plane(1, 3), std::vector<float>(20, 8.0f));
  // Holes in the corners and along the edges of a flat image read only pixels
  // inside (ASan run) and take the image's value.
  for (auto holes : {std::vector<int>{0, 1, 7, 8}, std::vector<int>{5, 6, 11, 12, 13, 17, 18}, std::vector<int>{35}}) {
    std::vector<float> v(36, 4.0f);
    for (int i : holes) v[size_t(i)] = B;
    PutImage(2, 6, 6, {v});
    InterpolateBlankPixels(2, 2, true, false);
    EXPECT_EQ(Plane(2, 1), std::vector<float>(36, 4.0f));
  }
  // A reference of another size changes nothing.
  PutImage(3, 2, 2, {{B, 1, 1, 1}});
  PutImage(4, 3, 2, {std::vector<float>(6, 1.0f)});
  InterpolateBlankPixels(4, 3, true, false);
  EXPECT_EQ(Plane(3, 1)[0], B);
}

std::vector<float> RampWithHole(int w, int h, int x0, int y0, int side) {
  std::vector<float> v(size_t(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      v[size_t(y * w + x)] = x >= x0 && x < x0 + side && y >= y0 && y < y0 + side ? B : float(3 * x + 2 * y);
  return v;
}

TEST_F(BlankInterpolationTest, HoleInARampStaysWithinTheRimAndRepeats) {
  const int w = 60, h = 50, x0 = 20, y0 = 15, side = 20;
  PutImage(1, w, h, {RampWithHole(w, h, x0, y0, side)});
  InterpolateBlankPixels(1, 1, true, false);
  const std::vector<float> first = Plane(1, 1);
  const float low = 3 * (x0 - 1) + 2 * (y0 - 1), high = 3 * (x0 + side) + 2 * (y0 + side);
  for (int y = y0; y < y0 + side; ++y)
    for (int x = x0; x < x0 + side; ++x) {
      const float v = first[size_t(y * w + x)];
      ASSERT_TRUE(v >= low && v <= high) << x << "," << y << ": " << v;
    }
  // The middle of the hole lies near the ramp's value there.
  EXPECT_NEAR(first[size_t((y0 + 10) * w + x0 + 10)], 3 * (x0 + 10) + 2 * (y0 + 10), 10);
  // Again, on each path: the same values.
  for (TPath path : AvailablePaths()) {
    PathGuard guard(path);
    PutImage(1, w, h, {RampWithHole(w, h, x0, y0, side)});
    InterpolateBlankPixels(1, 1, true, false);
    EXPECT_EQ(Plane(1, 1), first) << PathName(path);
  }
}

TEST_F(BlankInterpolationTest, ProgressAndAbort) {
  FakeWindow window;
  const int w = 60, h = 50;
  PutImage(1, w, h, {RampWithHole(w, h, 20, 15, 20)});
  Store.HasWindow[1] = 1;
  Store.Window[1] = &window;
  InterpolateBlankPixels(1, 1, true, true);
  ASSERT_FALSE(window.shown.empty());
  EXPECT_EQ(window.shown.front(), "Interpolation 0");
  EXPECT_EQ(window.shown.back(), "Interpolation 100");
  EXPECT_EQ(window.hidden, 1);
  // Nothing to fill: no progress at all.
  window.shown.clear();
  InterpolateBlankPixels(1, 1, true, true);
  EXPECT_TRUE(window.shown.empty());
  // An abort after a quarter ends the work after that ring; the rest stays blank.
  std::vector<float> two = RampWithHole(w, h, 5, 5, 12);
  const std::vector<float> second = RampWithHole(w, h, 40, 30, 12);
  for (size_t i = 0; i < two.size(); ++i) two[i] = std::min(two[i], second[i]);
  PutImage(1, w, h, {two});
  window.onProgress = [](int percent) {
    if (percent >= 25) AbortRequested = 1;
  };
  InterpolateBlankPixels(1, 1, true, true);
  const std::vector<float> v = Plane(1, 1);
  EXPECT_GE(std::count(v.begin(), v.end(), B), 144);
  EXPECT_LT(std::count(v.begin(), v.end(), B), 288);
  Store.Window[1] = nullptr;
  Store.HasWindow[1] = 0;
}

}  // namespace
}  // namespace astrelon::test
