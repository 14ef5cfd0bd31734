// The running-percentile background of the masked flattening: kept (the filter
// dialog's use) or subtracted, inside the rectangle only, with blanks kept.
#include <cmath>

#include "pixelops/background_flattening.h"
#include "slot_images.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class BackgroundFlatteningTest : public StoreTest {
protected:
  // A 60 x 40 sky: a gentle gradient, one star and a blank pixel.
  static void PutSky(int slot) {
    std::vector<float> v(60 * 40);
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x)
        v[size_t(y * 60 + x)] = 1000.0f + 2.0f * x + y +
                                4000.0f * std::exp(-float((x - 30) * (x - 30) + (y - 20) * (y - 20)) / 3.0f);
    v[5 * 60 + 7] = BlankPixel;
    PutImage(slot, 60, 40, {v});
  }
  static float At(int slot, int x, int y) { return Store.Image[size_t(slot)].At(1, x, y); }
};

TEST_F(BackgroundFlatteningTest, KeptBackgroundIgnoresTheStar) {
  PutSky(1);
  FlattenBackgroundMasked(1, 1, 8, 0, 0, 59, 39, false, true, false, "", 1, 0.35);
  // The background under the star (peak 4000) stays near the sky.
  EXPECT_GT(At(1, 30, 20), 1000.0f + 60 + 20 - 25.0f);
  EXPECT_LT(At(1, 30, 20), 1000.0f + 60 + 20 + 400.0f);
  EXPECT_NEAR(At(1, 10, 30), 1000.0f + 20 + 30, 25.0f);
  EXPECT_EQ(At(1, 7, 5), BlankPixel);
}

TEST_F(BackgroundFlatteningTest, SubtractionFlattensInsideTheRectangleOnly) {
  PutSky(1);
  PutSky(2);
  FlattenBackgroundMasked(1, 2, 8, 10, 5, 50, 35, false, false, false, "", 2, 0.25);
  // Outside the rectangle the source stays; inside, the sky is level and the star stands out.
  EXPECT_EQ(At(2, 2, 2), At(1, 2, 2));
  EXPECT_EQ(At(2, 55, 38), At(1, 55, 38));
  EXPECT_NEAR(At(2, 15, 10), At(2, 45, 30), 15.0f);
  EXPECT_GT(At(2, 30, 20), At(2, 15, 10) + 3000.0f);
  // A constant stays constant; a radius of 0 counts as 1.
  PutImage(3, 20, 10, {std::vector<float>(200, 500.0f)});
  PutImage(4, 20, 10, {std::vector<float>(200, 500.0f)});
  FlattenBackgroundMasked(3, 4, 0, 0, 0, 19, 9, false, false, false, "", 4, 0.25);
  for (float v : Store.Image[4].Planes[1]) ASSERT_NEAR(v, 500.0f, 1e-3f);
}

}  // namespace
}  // namespace astrelon::test
