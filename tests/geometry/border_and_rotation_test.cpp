// Margins, the fixed-size crop, blank edges and rotation by an angle or a guide line.
#include <cmath>
#include <limits>
#include <random>

#include "../pixelops/sampling_fixture.h"
#include "../pixelops/slot_images.h"
#include "kernels/regions/add_border.h"
#include "kernels/sampling/resample_image.h"
#include "pixelops/geometry/find_blank_margins.h"
#include "pixelops/geometry/fixed_size_crop.h"
#include "pixelops/geometry/guide_line_angle.h"
#include "pixelops/geometry/rotate_image.h"
#include "platform/memory_probe.h"

namespace astrelon::test {
namespace {

class BorderAndRotation : public SamplingTest {};

TEST(TypedMargins, MarginsAndCropHeights) {
  EXPECT_EQ(ParseMargin("0"), 0);
  EXPECT_EQ(ParseMargin("14999"), 14999);
  for (const char* bad : {"15000", "-1", "abc", "", "1.5"}) EXPECT_FALSE(ParseMargin(bad)) << bad;

  struct Case {
    const char* text;
    TCropHeightStatus status;
    int32_t height;
    const char* label;
  };
  for (const Case& c : {Case{"4:3", TCropHeightStatus::Valid, 480, "480"},
                        Case{"16:9", TCropHeightStatus::Valid, 360, "360"},
                        Case{"600", TCropHeightStatus::Valid, 600, ""},
                        Case{"0", TCropHeightStatus::OutOfRange, 1, ""},
                        Case{"40000", TCropHeightStatus::OutOfRange, 32767, ""},
                        Case{"1:100", TCropHeightStatus::OutOfRange, 32767, "64000"},
                        Case{"0:3", TCropHeightStatus::ZeroRatio, 1, ""},
                        Case{"4:x", TCropHeightStatus::NotANumber, 1, ""},
                        Case{"abc", TCropHeightStatus::NotANumber, 1, ""}}) {
    const TCropHeight h = ParseCropHeight(c.text, 640);
    EXPECT_EQ(h.Status, c.status) << c.text;
    EXPECT_EQ(h.Height, c.height) << c.text;
    EXPECT_EQ(h.Label, c.label) << c.text;
  }
}

TEST_F(BorderAndRotation, FixedSizeCropPadsTheOutsideWithBlanks) {
  MakeImage(1, 100, 100, [](int x, int y, int) { return float(y * 100 + x); });
  const TRectI frame = CropFrameRect(10, 10, 640, 480);
  EXPECT_EQ(frame.Left, -310);
  EXPECT_EQ(frame.Right, 329);
  EXPECT_EQ(frame.Top, -230);
  EXPECT_EQ(frame.Bottom, 249);
  TRectI clipped;
  ASSERT_TRUE(CutFixedSize(1, 2, frame, clipped));
  EXPECT_EQ(clipped.Left, 0);
  EXPECT_EQ(clipped.Right, 99);
  EXPECT_EQ(clipped.Top, 0);
  EXPECT_EQ(clipped.Bottom, 99);
  const TImageSlot& d = Store.Image[2];
  ASSERT_EQ(d.Width, 640);
  ASSERT_EQ(d.Height, 480);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const bool inside = x >= 310 && x <= 409 && y >= 230 && y <= 329;
      ASSERT_EQ(d.Planes[1][size_t(y * 640 + x)], inside ? float((y - 230) * 100 + x - 310) : BlankPixel) << x << " " << y;
    }

  // A frame larger than the image in both axes, centred: all four sides padded.
  ASSERT_TRUE(CutFixedSize(1, 3, CropFrameRect(50, 50, 121, 111), clipped));
  EXPECT_EQ(Store.Image[3].Width, 121);
  EXPECT_EQ(Store.Image[3].Height, 111);
  EXPECT_EQ(Store.Image[3].Planes[1][size_t(5 * 121 + 10)], 0.0f);
  EXPECT_EQ(Store.Image[3].Planes[1][size_t(4 * 121 + 10)], BlankPixel);

  // Wholly outside, or into a slot in use: nothing.
  EXPECT_FALSE(CutFixedSize(1, 4, CropFrameRect(500, 50, 100, 100), clipped));
  EXPECT_FALSE(Store.InUse[4]);
  EXPECT_FALSE(CutFixedSize(1, 2, frame, clipped));
}

TEST_F(BorderAndRotation, BlankMarginsStopAtTheMiddle) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // 6 x 5: column 0 blank, the last two rows blank (one through NaN), a value in
  // plane 2 only keeps column 5.
  MakeImage(1, 6, 5, [&](int x, int y, int p) {
    if (x == 0 || y >= 3) return y == 4 ? nan : BlankPixel;
    if (x == 5) return p == 2 && y == 1 ? 1.0f : -2e9f;
    return 1.0f;
  }, 3);
  const TBlankMargins m = FindBlankMargins(1);
  EXPECT_EQ(m.Left, 1);
  EXPECT_EQ(m.Top, 0);
  EXPECT_EQ(m.Right, 0);
  EXPECT_EQ(m.Bottom, 2);
  ASSERT_TRUE(TrimBlankEdges(1));
  EXPECT_EQ(Store.Image[1].Width, 5);
  EXPECT_EQ(Store.Image[1].Height, 3);
  EXPECT_FALSE(TrimBlankEdges(1));

  MakeImage(2, 4, 3, [](int, int, int) { return BlankPixel; });
  const TBlankMargins all = FindBlankMargins(2);
  EXPECT_EQ(all.Top, 2);
  EXPECT_EQ(all.Bottom, 2);
  EXPECT_EQ(all.Left, 3);
  EXPECT_FALSE(TrimBlankEdges(2));
  EXPECT_EQ(Store.Image[2].Width, 4);
}

TEST_F(BorderAndRotation, GuideLineBecomesLevel) {
  EXPECT_NEAR(GuideLineAngle(100, 200, 300, 210), 2.862405, 1e-5);
  EXPECT_NEAR(GuideLineAngle(50, 0, 60, 400), -1.432096, 1e-5);
  EXPECT_NEAR(GuideLineAngle(0, 0, 10, 10), -45.0, 1e-12);
  EXPECT_EQ(GuideLineAngle(5, 5, 20, 5), 0.0);
  EXPECT_EQ(GuideLineAngle(5, 5, 5, 20), 0.0);
  // A bright line falling to the right: after the rotation its ridge lies in one row.
  const int n = 201;
  MakeImage(1, n, n, [](int x, int y, int) { return std::abs(y - (90 + (x - 20) / 8)) < 1 ? 100.0f : 0.0f; });
  MakeImage(2, 1, 1, [](int, int, int) { return 0.0f; });
  ASSERT_TRUE(RotateImage(1, 2, IkLinear, GuideLineAngle(20, 90, 180, 110), int(TRotateFraming::KeepSize)));
  auto ridgeRow = [&](int x) {
    int best = 0;
    for (int y = 0; y < n; ++y)
      if (Store.Image[2].Planes[1][size_t(y * n + x)] > Store.Image[2].Planes[1][size_t(best * n + x)]) best = y;
    return best;
  };
  EXPECT_NEAR(ridgeRow(40), ridgeRow(160), 1);
}

TEST_F(BorderAndRotation, LinearRotationAgreesWithScipy) {
  if (!HavePythonModule("scipy.ndimage")) GTEST_SKIP() << "python3-scipy missing";
  const int w = 41, h = 30;
  const double angle = 12.5;
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  MakeImage(1, w, h, [&](int, int, int) { return u(rng); });
  MakeImage(2, 1, 1, [](int, int, int) { return 0.0f; });
  ASSERT_TRUE(RotateImage(1, 2, IkLinear, angle, int(TRotateFraming::KeepSize)));
  TempDir dir;
  WriteFloats(dir.file("img"), Plane(1, 1));
  const std::string script =
      "import sys, numpy as np\nfrom scipy.ndimage import affine_transform\n"
      "d, w, h, a = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), -float(sys.argv[4]) * np.pi / 180\n"
      "img = np.fromfile(d + '/img', np.float32).reshape(h, w).astype(np.float64)\n"
      "m = np.array([[np.cos(a), -np.sin(a)], [np.sin(a), np.cos(a)]])\n"
      "c = np.array([(h - 1) / 2, (w - 1) / 2])\n"
      "affine_transform(img, m, offset=c - m @ c, order=1, cval=-1e11).astype(np.float32).tofile(d + '/out')\n";
  ASSERT_TRUE(RunPython(dir, script, dir.path().string() + " 41 30 12.5"));
  const std::vector<float> expected = ReadFloats(dir.file("out"));
  ASSERT_EQ(expected.size(), size_t(w * h));
  const double a = -angle * M_PI / 180, c = std::cos(a), s = std::sin(a);
  int compared = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // Only where the source point lies inside the grid, where the edge rules do not matter.
      const double dx = x - (w - 1) / 2.0, dy = y - (h - 1) / 2.0;
      const double sx = dx * c + dy * s + (w - 1) / 2.0, sy = -dx * s + dy * c + (h - 1) / 2.0;
      if (sx < 0.01 || sy < 0.01 || sx > w - 1.01 || sy > h - 1.01) continue;
      ASSERT_NEAR(Store.Image[2].Planes[1][size_t(y * w + x)], expected[size_t(y * w + x)], 1e-4) << x << " " << y;
      ++compared;
    }
  EXPECT_GT(compared, w * h / 2);
}

TEST_F(BorderAndRotation, QuarterTurnIsRot90) {
  // numpy.rot90 (counter-clockwise as shown, row 0 on top): out[i][j] = in[j][n - 1 - i].
  const int n = 7;
  MakeImage(1, n, n, [](int x, int y, int) { return float(x * x + 7 * y); });
  MakeImage(2, 1, 1, [](int, int, int) { return 0.0f; });
  ASSERT_TRUE(RotateImage(1, 2, IkBicubic, 90.0, int(TRotateFraming::KeepSize)));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      ASSERT_NEAR(Store.Image[2].Planes[1][size_t(i * n + j)], Store.Image[1].Planes[1][size_t(j * n + n - 1 - i)], 1e-5)
          << i << " " << j;
}

// Whole turns added to an angle change nothing, up to the angle limit; beyond
// it (and for NaN or infinity) nothing is rotated and the destination stays.
TEST_F(BorderAndRotation, WholeTurnsChangeNothingAndAnglesBeyondTheLimitAreRefused) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> noise(0, 65535);
  MakeImage(1, 61, 47, [&](int, int, int) { return noise(rng); });
  MakeImage(2, 1, 1, [](int, int, int) { return 0.0f; });
  MakeImage(3, 1, 1, [](int, int, int) { return 0.0f; });
  for (const double angle : {33.3, -147.25, 89.5, 180.0, 1.0 / 3})
    for (const double turns : {1.0, -2.0, 2777.0, -2777.0})
      for (const int framing : {int(TRotateFraming::FullImage), int(TRotateFraming::Crop)}) {
        SCOPED_TRACE(std::to_string(angle) + " + " + std::to_string(turns) + " turns, framing " +
                     std::to_string(framing));
        ASSERT_TRUE(RotateImage(1, 2, IkBicubic, angle, framing));
        ASSERT_TRUE(RotateImage(1, 3, IkBicubic, angle + 360 * turns, framing));
        ASSERT_EQ(Store.Image[3].Width, Store.Image[2].Width);
        ASSERT_EQ(Store.Image[3].Height, Store.Image[2].Height);
        ASSERT_EQ(Store.Image[3].Planes[1], Store.Image[2].Planes[1]);
      }
  const TPlane kept = Store.Image[3].Planes[1];
  for (const double angle : {1e6 + 0.001, -1e7, 1e300, std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(RotateImage(1, 3, IkBicubic, angle, int(TRotateFraming::FullImage))) << angle;
    EXPECT_EQ(Store.Image[3].Planes[1], kept) << angle;
  }
  EXPECT_TRUE(RotateImage(1, 3, IkBicubic, -1e6, int(TRotateFraming::FullImage)));
}

TEST_F(BorderAndRotation, FullImageKeepsBlankCornersAfterTrimming) {
  MakeImage(1, 40, 40, [](int x, int y, int) { return float(x + y); });
  MakeImage(2, 1, 1, [](int, int, int) { return 0.0f; });
  ASSERT_TRUE(RotateImage(1, 2, IkLinear, 45.0, int(TRotateFraming::FullImage)));
  TrimBlankEdges(2);
  const TImageSlot& d = Store.Image[2];
  EXPECT_GT(d.Width, 40);
  EXPECT_GT(d.Height, 40);
  EXPECT_EQ(d.Planes[1][0], BlankPixel);
  EXPECT_EQ(d.Planes[1][d.PixelCount() - 1], BlankPixel);
  EXPECT_EQ(FindBlankMargins(2).Sum(), 0);
}

// Results whose size grows with a typed value are refused before anything is
// allocated when they do not fit in the free memory (1 MB here); the slot
// keeps its image. Small results still fit.
TEST_F(BorderAndRotation, GrowingResultsAreRefusedWhenTheyDoNotFitInMemory) {
  AvailableMemoryOverride = [] { return uint64_t(1) << 20; };
  struct Case {
    const char* what;
    int w, h, planes;
    std::function<void()> grow;
    bool fits;
  };
  const Case cases[] = {
      {"2000 x 2 at 45 degrees, full image", 2000, 2, 1,
       [] { RotateImage(1, 2, IkLinear, 45.0, int(TRotateFraming::FullImage)); }, false},
      {"colour 700 x 2 at 30 degrees, full image", 700, 2, 3,
       [] { RotateImage(1, 2, IkBicubic, 30.0, int(TRotateFraming::FullImage)); }, false},
      {"40 x 40 at 45 degrees, full image", 40, 40, 1,
       [] { RotateImage(1, 2, IkLinear, 45.0, int(TRotateFraming::FullImage)); }, true},
      {"200 x 100 resized ten times", 200, 100, 1,
       [] { ResampleImage(2, IkLinear, 0, 10.0, 10.0, 0, false, false, false); }, false},
      {"colour 200 x 100 resized to 800 x 400", 200, 100, 3,
       [] { ResampleImage(2, IkBicubic, 800, 0, 0, 400, true, false, true); }, false},
      {"2000 x 1000 halved", 2000, 1000, 1,
       [] { ResampleImage(2, IkLinear, 0, 0.5, 0.5, 0, false, true, false); }, true},
      {"200 x 100 with 300-pixel borders", 200, 100, 1, [] { AddBorder(2, 300, 300, 300, 300, 0.0f); }, false},
  };
  for (const Case& c : cases) {
    MakeImage(1, c.w, c.h, [](int x, int y, int p) { return float(x + 3 * y + p); }, c.planes);
    ASSERT_TRUE(CopyImageSlot(1, 2));
    const std::vector<float> before = Plane(2, 1);
    bool refused = false;
    try {
      c.grow();
    } catch (const std::bad_alloc&) {
      refused = true;
    }
    EXPECT_EQ(refused, !c.fits) << c.what;
    if (refused) {
      EXPECT_EQ(Store.Image[2].Width, c.w) << c.what;
      EXPECT_EQ(Plane(2, 1), before) << c.what;
    }
  }
  AvailableMemoryOverride = nullptr;
}

}  // namespace
}  // namespace astrelon::test
