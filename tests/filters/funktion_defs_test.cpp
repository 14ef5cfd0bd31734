// Slider values and their texts from the filter table.
#include <set>

#include <gtest/gtest.h>

#include "core/funktion_defs.h"
#include "test_support.h"

namespace astrelon {
namespace {

class FunktionDefs : public ::testing::Test {
protected:
  void SetUp() override { FunktionDefTable = DefaultFunktionDefTable(); }
  void TearDown() override { FunktionDefTable = DefaultFunktionDefTable(); }
  static void At(int nr, int j, float position) { FunktionDefTable[size_t(nr)].Trackbar[size_t(j - 1)].Position = position; }
};

TEST_F(FunktionDefs, ValuesAndTextsFollowTheSliderMapping) {
  struct Case {
    int Nr, Slider;
    float Position;  // < 0: the table's default
    float Value;
    const char* Text;
  };
  const Case cases[] = {
      {3, 1, 0.5f, 2.875f, "2.88"},      // quadratic: Min + 0.25 (Max - Min)
      {3, 1, 0.23f, 1.00255f, "1.00"},   // the default radius
      {6, 1, -1, 30.5f, "30.5"},         // defaults
      {6, 2, -1, 100.0f, "100"},
      {2, 1, 0.5f, 0.0f, "0.00"},
      {19, 1, 1.0f, 90.0f, "90.0"},
      {5, 2, 1.0f, 100.0f, "100"},
      {20, 1, 0.375f, 2.5f, "2"},        // integer slider: half to even
      {15, 1, -1, 50.0f, "50.0"},
      {8, 1, -1, 1.4f, "1.40"},
      {14, 1, 0.0f, 5.0f, "5"},          // the median window snaps
      {14, 1, 1.0f, 69.0f, "69"},
      {21, 1, -1, 3.46875f, "3"},
      {1, 4, 1.0f, 100.0f, "100"},       // any other slider number means slider 3 (function 1 has none: Min)
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "function " << c.Nr << " slider " << c.Slider);
    FunktionDefTable = DefaultFunktionDefTable();
    if (c.Position >= 0) At(c.Nr, c.Slider == 4 ? 3 : c.Slider, c.Position);
    if (c.Nr == 1) {
      EXPECT_FLOAT_EQ(FunktionParamValue(1, 4), 0.0f);  // an empty slider still has its Min
      continue;
    }
    EXPECT_NEAR(FunktionParamValue(c.Nr, c.Slider), c.Value, 1e-5);
    EXPECT_EQ(FunktionParamText(c.Nr, c.Slider), c.Text);
  }
}

TEST_F(FunktionDefs, MedianWindowSnapsToRoundFootprints) {
  std::set<int> sizes;
  for (float v = 5; v <= 69; v += 0.25f) sizes.insert(MedianWindowSize(v));
  EXPECT_EQ(sizes, (std::set<int>{5, 9, 13, 21, 29, 37, 45, 57, 69}));
  for (int v = 23; v <= 30; ++v) EXPECT_EQ(MedianWindowSize(float(v)), 29) << v;
  EXPECT_EQ(MedianWindowSize(-1e30f), 5);
  EXPECT_EQ(MedianWindowSize(1e30f), 69);
  At(14, 1, 24.0f / 64.0f);  // asks for 29
  EXPECT_EQ(FunktionParamText(14, 1), "29");
}

TEST_F(FunktionDefs, StartStateOfTheComputedFunctions) {
  for (int nr : {1, 2, 7, 11, 13, 15, 18}) EXPECT_EQ(FunktionStartState[size_t(nr)], 0) << nr;
  for (int nr : {3, 4, 5, 6, 8, 9, 10, 12, 14, 16, 17, 19, 20, 21}) EXPECT_EQ(FunktionStartState[size_t(nr)], 1) << nr;
}

}  // namespace
}  // namespace astrelon
