// Counting series file names up, and the clamped rounding.
#include "common/series_number.h"

#include <cmath>

#include "common/clamp_round.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

TEST(SeriesFileName, CountsTheLastThreeDigitsBeforeTheExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"Bild0009.fit", "Bild0010.fit"},
      {"/d/Bild9.fit", "/d/Bild10.fit"},
      {"a0099.fit", "a0100.fit"},
      {"x199", "x200"},
      {"/d/99", "/d/100"},
      {"Frame0998", "Frame0999"},
      {"/d.1/img1", "/d.1/img2"},
      {"/a/b1.c.fit", "/a/b1.c.fit"},
      {"b999.fit", "b999.fit"},
      {"1999.fit", "1999.fit"},
      {"Frame0999", "Frame0999"},
      {"/d/9/light.fit", "/d/9/light.fit"},
      {"", ""},
      {"/d/7/", "/d/7/"},
  };
  for (const auto& [from, to] : cases) {
    std::string name = from;
    EXPECT_EQ(IncrementSeriesFileName(name), std::string(from) != to) << from;
    EXPECT_EQ(name, to) << from;
  }
}

TEST(ClampRound, RoundsHalvesToEvenWithinTenMillion) {
  const std::pair<double, int32_t> cases[] = {
      {1e8, 10'000'000},
      {-2.5e7, -10'000'000},
      {2.5, 2},
      {3.5, 4},
      {-2.5, -2},
      {1e7, 10'000'000},
      {9'999'999.5, 10'000'000},
      {1e300, 10'000'000},
      {-1e300, -10'000'000},
      {std::nan(""), 0},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(ClampRoundToInt(value), expected) << value;
}

}  // namespace
}  // namespace astrelon::test
