// Value arithmetic on the working rectangle: exact values, blank pixels, the
// planes each worker touches, and the same results on one or many threads.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "kernels/regions/value_arithmetic.h"
#include "platform/processor_features.h"
#include "shell/stars/star_cutout.h"
#include "shell/stars/tile_values.h"
#include "slot_images.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

const float NaN = std::numeric_limits<float>::quiet_NaN();

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)); }

class ValueArithmeticTest : public StoreTest {};

TEST_F(ValueArithmeticTest, PerPixelValues) {
  struct Case {
    const char* name;
    std::function<void(int)> worker;
    std::vector<float> in, out;
  };
  const std::vector<Case> cases = {
      {"round", RoundValues, {2.5f, 3.5f, -0.5f, -2.5f, 1.4999f, 1e10f, BlankPixel, NaN},
       {2, 4, 0, -2, 1, 1e10f, BlankPixel, NaN}},
      {"toward 0", [](int s) { MoveValuesTowardZero(s, 1.0f); }, {0.4f, -0.4f, 3, -3, BlankPixel, NaN},
       {0, 0, 2, -2, BlankPixel, NaN}},
      {"square root", [](int s) { TakeSquareRoot(s); }, {-4, 0, 16, 2, BlankPixel, NaN},
       {0, 0, 4, std::sqrt(2.0f), BlankPixel, NaN}},
      // The batch's square root keeps values at or below 0.
      {"square root keeping", [](int s) { TakeSquareRoot(s, true, true); }, {-4, -0.0f, 16, 2, BlankPixel, NaN},
       {-4, -0.0f, 4, std::sqrt(2.0f), BlankPixel, NaN}},
      {"square", [](int s) { SquareValues(s); }, {3, -2, BlankPixel, NaN}, {9, 4, BlankPixel, NaN}},
      {"lower limit", [](int s) { ClampValuesBelow(s, 0); }, {-5, 3, BlankPixel, NaN}, {0, 3, BlankPixel, NaN}},
      // The default upper limit leaves a 16-bit image as it is.
      {"upper limit", [](int s) { ClampValuesAbove(s, 32767); }, {-32768, 0, 32767, BlankPixel},
       {-32768, 0, 32767, BlankPixel}},
      {"upper limit 5", [](int s) { ClampValuesAbove(s, 5); }, {-1, 7, BlankPixel}, {-1, 5, BlankPixel}},
      {"factor 1e9 acts as 1e8", [](int s) { MultiplyRectByValues(s, 1e9, 1, 1); }, {2, -1, BlankPixel, NaN},
       {2e8f, -1e8f, BlankPixel, NaN}},
      {"factor -1e9", [](int s) { MultiplyRectByValues(s, -1e9, 1, 1); }, {2}, {-2e8f}},
      {"add", [](int s) { AddValuesToRect(s, 10, 0, 0); }, {1, -1e8f, BlankPixel, NaN},
       {11, -1e8f + 10, BlankPixel, NaN}},
  };
  for (const Case& c : cases) {
    PutImage(1, int(c.in.size()), 1, {c.in});
    WholeImageRect(1);
    c.worker(1);
    const std::vector<float> got = Plane(1, 1);
    for (size_t i = 0; i < c.out.size(); ++i)
      EXPECT_TRUE(SameBits(got[i], c.out[i]) || got[i] == c.out[i]) << c.name << " #" << i << ": " << got[i];
  }
}

TEST_F(ValueArithmeticTest, TileAdditionSkipsBlanksAndRenewsTheRange) {
  TStarCutout tile;
  tile.PlaneCount = 2;
  tile.Planes[0].fill(5.0f);
  tile.Planes[1].fill(-2.0f);
  tile.Planes[2].fill(7.0f);
  tile.At(1, 15, 15) = 100.0f;
  tile.At(1, 0, 0) = BlankPixel;
  tile.At(2, 3, 4) = NaN;
  tile.MaxValue = tile.PlaneMax[1] = 1e6f;  // stale range
  AddValuesToTile(tile, -5.0f, 2.5f, 1.0f);
  EXPECT_EQ(tile.At(1, 15, 15), 95.0f);
  EXPECT_EQ(tile.At(1, 1, 0), 0.0f);
  EXPECT_EQ(tile.At(1, 0, 0), BlankPixel);
  EXPECT_TRUE(std::isnan(tile.At(2, 3, 4)));
  EXPECT_EQ(tile.At(2, 0, 0), 0.5f);
  EXPECT_EQ(tile.At(3, 0, 0), 7.0f);  // beyond the plane count
  EXPECT_EQ(tile.PlaneMax[1], 95.0f);
  EXPECT_EQ(tile.PlaneMin[1], 0.0f);
  EXPECT_EQ(tile.PlaneMax[2], 0.5f);
  EXPECT_EQ(tile.MaxValue, 95.0f);
  EXPECT_EQ(tile.MinValue, 0.0f);
}

TEST_F(ValueArithmeticTest, WorkersStayInsideTheWorkingRectangle) {
  // 4 x 3 grey, rectangle x 1..2, y 1..1.
  PutImage(1, 4, 3, {std::vector<float>(12, 1.0f)});
  WorkRect = {1, 2, 1, 1};
  AddValuesToRect(1, 5, 0, 0);
  const std::vector<float> expect{1, 1, 1, 1, 1, 6, 6, 1, 1, 1, 1, 1};
  EXPECT_EQ(Plane(1, 1), expect);
  // A rectangle reaching beyond the image is cut to it.
  WorkRect = {-10, 100, 2, 50};
  MultiplyRectByValues(1, 2, 1, 1);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{1, 1, 1, 1, 1, 6, 6, 1, 2, 2, 2, 2}));
  // Moving toward 0 ignores the rectangle.
  WorkRect = {0, 0, 0, 0};
  MoveValuesTowardZero(1, 1);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{0, 0, 0, 0, 0, 5, 5, 0, 1, 1, 1, 1}));
}

TEST_F(ValueArithmeticTest, PlanesByWorkerChannelSelectionAndColourModel) {
  auto colour = [](int model, int selection) {
    PutImage(1, 2, 1, {{-1, 4}, {-1, 4}, {-1, 4}});
    Store.Image[1].ColorModel = model;
    Store.Display[1].ChannelSelection = selection;
    WholeImageRect(1);
  };
  // Per-plane workers take every plane with its own value, whatever the selection.
  colour(CmRgb, 1);
  AddValuesToRect(1, 1, 2, 3);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{0, 5}));
  EXPECT_EQ(Plane(1, 2), (std::vector<float>{1, 6}));
  EXPECT_EQ(Plane(1, 3), (std::vector<float>{2, 7}));
  colour(CmRgb, 2);
  MultiplyRectByValues(1, 2, 3, 4);
  EXPECT_EQ(Plane(1, 3), (std::vector<float>{-4, 16}));
  // Per-channel workers: selection 4 is R and B of an RGB image, U and V of a YUV image.
  struct Case {
    int model, selection;
    std::array<bool, 3> changed;
  };
  for (const Case& c : {Case{CmRgb, 0, {true, true, true}}, Case{CmRgb, 2, {false, true, false}},
                        Case{CmRgb, 4, {true, false, true}}, Case{CmYuv, 4, {false, true, true}},
                        Case{CmYuv, 1, {true, false, false}}}) {
    colour(c.model, c.selection);
    TakeSquareRoot(1);
    for (int p = 1; p <= 3; ++p)
      EXPECT_EQ(Plane(1, p), c.changed[size_t(p - 1)] ? std::vector<float>({0, 2}) : std::vector<float>({-1, 4}))
          << c.model << "/" << c.selection << " plane " << p;
  }
  // The every-plane modes of the batch leave the channel selection aside.
  colour(CmRgb, 2);
  TakeSquareRoot(1, true, true);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(Plane(1, p), (std::vector<float>{-1, 2})) << "plane " << p;
  colour(CmRgb, 2);
  SquareValues(1, true);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(Plane(1, p), (std::vector<float>{1, 16})) << "plane " << p;
  // A grey image always works on plane 1.
  PutImage(1, 2, 1, {{-1, 9}});
  Store.Display[1].ChannelSelection = 3;
  WholeImageRect(1);
  ClampValuesBelow(1, 0);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{0, 9}));
}

// Runs a block with the SIMD switch on or off.
class VectorGuard {
public:
  explicit VectorGuard(bool on) : old_(Sse2Enabled) { Sse2Enabled = on; }
  ~VectorGuard() { Sse2Enabled = old_; }

private:
  bool old_;
};

TEST_F(ValueArithmeticTest, SameResultsOnEitherPathAndAnyThreadCount) {
  const int w = 613, h = 401;
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(100, 300);
  const std::vector<float> special{0.0f,  -0.0f,       INFINITY, -INFINITY, 2.5f,  -2.5f, 8388607.5f, 1e30f,
                                   -1e8f, -1e9f,       -0.4f,    1e-40f,    0.75f, -0.75f, 100.0f,   -100.0f,
                                   20.0f, 200.0f,      NaN,      BlankPixel};
  std::vector<std::vector<float>> planes(3, std::vector<float>(size_t(w) * h));
  for (auto& p : planes)
    for (float& v : p) v = rng() % 8 == 0 ? special[rng() % special.size()] : noise(rng);
  const std::vector<std::function<void(int)>> workers = {
      [](int s) { AddValuesToRect(s, 0.1f, -3, 7); }, [](int s) { MultiplyRectByValues(s, 1.7, 0.3, -2); },
      [](int s) { ClampValuesBelow(s, 20); },          [](int s) { ClampValuesAbove(s, 200); },
      [](int s) { ClampValuesBelow(s, 0); },           [](int s) { ClampValuesAbove(s, -0.0f); },
      [](int s) { TakeSquareRoot(s); },              [](int s) { SquareValues(s); },
      [](int s) { TakeSquareRoot(s, true, true); },  [](int s) { SquareValues(s, true); },
      RoundValues,                                    [](int s) { MoveValuesTowardZero(s, 0.75f); },
      [](int s) { MoveValuesTowardZero(s, 0); }};
  struct Run {
    bool vector, multi;
  };
  for (size_t k = 0; k < workers.size(); ++k) {
    std::vector<std::vector<float>> result;
    for (const Run& r : {Run{false, false}, Run{true, false}, Run{true, true}}) {
      MulticoreGuard threads(r.multi);
      VectorGuard path(r.vector);
      PutImage(1, w, h, {planes[0], planes[1], planes[2]});
      WorkRect = {5, w - 3, 2, h - 9};
      workers[k](1);
      result.emplace_back();
      for (int p = 1; p <= 3; ++p) {
        const auto v = Plane(1, p);
        result.back().insert(result.back().end(), v.begin(), v.end());
      }
    }
    for (size_t r = 1; r < result.size(); ++r)
      EXPECT_EQ(std::memcmp(result[0].data(), result[r].data(), result[0].size() * sizeof(float)), 0)
          << "worker " << k << " run " << r;
  }
}

}  // namespace
}  // namespace astrelon::test
