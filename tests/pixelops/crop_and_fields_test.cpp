// Cutting rectangles, splitting interlaced frames into fields, and single pixels.
#include "kernels/regions/crop_image_rect.h"
#include "kernels/sampling/pixel_access.h"
#include "pixelops/pixels/half_frames.h"
#include "slot_images.h"
#include "store/rect_text.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class CropAndFieldsTest : public StoreTest {
protected:
  // A w x h image whose value encodes its place: plane * 10000 + y * 100 + x.
  static void PutNumbered(int slot, int w, int h, int planes) {
    std::vector<std::vector<float>> v(size_t(planes), std::vector<float>(size_t(w) * h));
    for (int p = 0; p < planes; ++p)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) v[size_t(p)][size_t(y * w + x)] = float((p + 1) * 10000 + y * 100 + x);
    if (planes == 1) PutImage(slot, w, h, {v[0]});
    else PutImage(slot, w, h, {v[0], v[1], v[2]});
  }
  static float Numbered(int p, int x, int y) { return float(p * 10000 + y * 100 + x); }
};

TEST_F(CropAndFieldsTest, CropIntoAnotherSlot) {
  PutNumbered(1, 30, 20, 3);
  Store.Image[1].ColorModel = CmYuv;
  Store.Image[1].RawFilterPattern = 0x94949494;
  AddHistoryCard(1, "vorher", 1);
  ASSERT_TRUE(CropImageRect(1, 2, 10, 5, 20, 15));
  const TImageSlot& d = Store.Image[2];
  EXPECT_TRUE(Store.InUse[2]);
  EXPECT_EQ(d.Width, 11);
  EXPECT_EQ(d.Height, 11);
  EXPECT_EQ(d.PlaneCount, 3);
  EXPECT_TRUE(d.IsColor);
  EXPECT_EQ(d.ColorModel, CmYuv);
  EXPECT_EQ(d.RawFilterPattern, 0u);
  EXPECT_EQ(Store.Header[2].ActiveCards(), Store.Header[1].ActiveCards());
  for (int p = 1; p <= 3; ++p)
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 11; ++x) ASSERT_EQ(d.At(p, x, y), Numbered(p, x + 10, y + 5)) << p << " " << x << " " << y;
  // The source is unchanged; a one-plane source leaves planes 2 and 3 empty.
  EXPECT_EQ(Store.Image[1].Width, 30);
  PutNumbered(3, 8, 8, 1);
  ASSERT_TRUE(CropImageRect(3, 2, 0, 0, 3, 3));
  EXPECT_EQ(Store.Image[2].PlaneCount, 1);
  EXPECT_TRUE(Store.Image[2].Planes[2].empty());
  EXPECT_TRUE(Store.Image[2].Planes[3].empty());
}

TEST_F(CropAndFieldsTest, CropClipsAndRefuses) {
  PutNumbered(1, 10, 8, 1);
  // Corners outside the image are moved in.
  ASSERT_TRUE(CropImageRect(1, 2, -5, -3, 50, 2));
  EXPECT_EQ(Store.Image[2].Width, 10);
  EXPECT_EQ(Store.Image[2].Height, 3);
  EXPECT_EQ(Store.Image[2].At(1, 9, 2), Numbered(1, 9, 2));
  // Nothing left after clipping, a destination below 1, an unused source: false and nothing changed.
  EXPECT_FALSE(CropImageRect(1, 3, 12, 0, 20, 5));
  EXPECT_FALSE(CropImageRect(1, 3, 4, 0, 3, 5));
  EXPECT_FALSE(CropImageRect(1, 0, 0, 0, 3, 3));
  EXPECT_FALSE(CropImageRect(5, 3, 0, 0, 3, 3));
  EXPECT_FALSE(Store.InUse[3]);
  EXPECT_EQ(Store.Image[1].Width, 10);
}

TEST_F(CropAndFieldsTest, CropInPlaceKeepsTheRowsOfEveryPlane) {
  struct Case {
    int x1, y1, x2, y2;
  };
  // Including: only the height changes with y1 = 0, only the height with y1 > 0,
  // only the width, and the whole image.
  for (const Case& c : {Case{3, 2, 9, 6}, Case{0, 0, 11, 4}, Case{0, 3, 11, 8}, Case{2, 0, 5, 9}, Case{0, 0, 11, 9}}) {
    PutNumbered(1, 12, 10, 3);
    ASSERT_TRUE(CropImageRect(1, 1, c.x1, c.y1, c.x2, c.y2));
    const TImageSlot& im = Store.Image[1];
    const int w = c.x2 - c.x1 + 1, h = c.y2 - c.y1 + 1;
    ASSERT_EQ(im.Width, w);
    ASSERT_EQ(im.Height, h);
    for (int p = 1; p <= 3; ++p) {
      ASSERT_EQ(im.Planes[size_t(p)].size(), size_t(w * h));
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          ASSERT_EQ(im.At(p, x, y), Numbered(p, x + c.x1, y + c.y1)) << c.x1 << c.y1 << c.x2 << c.y2;
    }
  }
}

TEST_F(CropAndFieldsTest, HalfHeightFieldsTakeEveryOtherRow) {
  for (int field = 1; field <= 2; ++field) {
    PutNumbered(1, 4, 5, 3);
    KeepHalfFrameRows(1, field);
    const TImageSlot& im = Store.Image[1];
    ASSERT_EQ(im.Height, 2);  // 5 rows: field 1 rows 0 and 2, field 2 rows 1 and 3
    for (int p = 1; p <= 3; ++p)
      for (int r = 0; r < 2; ++r)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(im.At(p, x, r), Numbered(p, x, field - 1 + 2 * r));
    EXPECT_EQ(GetHeaderValue(1, "NAXIS2", true), "2");
    EXPECT_EQ(GetHeaderValue(1, "NAXIS1", true), "4");
  }
  // One row has no fields: nothing changes.
  PutNumbered(1, 4, 1, 1);
  KeepHalfFrameRows(1, 1);
  EXPECT_EQ(Store.Image[1].Height, 1);
}

TEST_F(CropAndFieldsTest, InterpolatedFieldsFillTheOtherRows) {
  // The column 0, x, 10, x, 20, x, 30 (field 1 kept): row 3 gets
  // (-0.1 * 0 + 0.6 * 10 + 0.6 * 20 - 0.1 * 30) / 1.0 = 15.
  const float x = 999;
  PutImage(1, 1, 7, {{0, x, 10, x, 20, x, 30}});
  InterpolateHalfFrame(1, 1);
  const auto col = Plane(1, 1);
  EXPECT_NEAR(col[3], 15.0f, 1e-5);
  EXPECT_NEAR(col[1], (0.6f * 0 + 0.6f * 10 - 0.1f * 20) / 1.1f, 1e-5);  // no row -2
  EXPECT_NEAR(col[5], (-0.1f * 10 + 0.6f * 20 + 0.6f * 30) / 1.1f, 1e-5);  // no row 8
  EXPECT_EQ(col[0], 0);  // kept rows do not change
  EXPECT_EQ(col[6], 30);
  // Height 2, field 1: row 1 takes row 0 (weight 0.6 alone). Field 2 of the same
  // image fills row 0 from row 1.
  PutImage(1, 2, 2, {{4, 5, 8, 9}});
  InterpolateHalfFrame(1, 1);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{4, 5, 4, 5}));
  PutImage(1, 2, 2, {{4, 5, 8, 9}});
  InterpolateHalfFrame(1, 2);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{8, 9, 8, 9}));
  // Kept-field neighbours all blank (or only the two negative weights): the pixel stays.
  PutImage(1, 1, 5, {{BlankPixel, 7, BlankPixel, 8, BlankPixel}});
  InterpolateHalfFrame(1, 1);
  EXPECT_EQ(Plane(1, 1)[1], 7);
  EXPECT_EQ(Plane(1, 1)[3], 8);
  PutImage(1, 1, 7, {{1, 0, BlankPixel, 5, BlankPixel, 0, 1}});
  InterpolateHalfFrame(1, 1);
  EXPECT_EQ(Plane(1, 1)[3], 5);
}

TEST_F(CropAndFieldsTest, FieldNamesSitBesideTheSource) {
  EXPECT_EQ(HalfFrameFileName("/d/m42.fit", "Halbbild", 1), "/d/Halbbild1_m42.fit");
  EXPECT_EQ(HalfFrameFileName("/d/m42.fit", "Halbbild", 2), "/d/Halbbild2_m42.fit");
  EXPECT_EQ(HalfFrameFileName("m42.fit", "Field", 2), "Field2_m42.fit");
}

TEST_F(CropAndFieldsTest, SinglePixelsAndRectangleText) {
  PutImage(1, 3, 2, {{1, 2, 3, 4, 5, 6}});
  EXPECT_EQ(GetPixelValue(1, 1, 2, 1), 6);
  for (auto [x, y] : {std::pair{-1, 0}, {3, 0}, {0, -1}, {0, 2}}) EXPECT_EQ(GetPixelValue(1, 1, x, y), BlankPixel);
  EXPECT_EQ(GetPixelValue(1, 2, 0, 0), BlankPixel);  // a plane the image lacks
  SetPixelValue(1, 1, 1, 0, 42);
  SetPixelValue(1, 1, 3, 0, 77);  // outside: nothing
  SetPixelValue(1, 1, -1, 1, 77);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{1, 42, 3, 4, 5, 6}));
  EXPECT_EQ(FormatRectText({10, 20, 30, 40}), "[X1: 10, X2: 30, Y1: 20, Y2: 40]");
}

}  // namespace
}  // namespace astrelon::test
