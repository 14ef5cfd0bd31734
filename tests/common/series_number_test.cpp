// Frame numbers from the trailing digits of file names.
#include "common/series_number.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

TEST(SeriesNumber, TrailingDigitsOfTheNameWithoutFolderAndExtension) {
  const std::pair<const char*, int> cases[] = {
      {"/d/light_0012.fit", 12}, {"frame7", 7},        {"/d/7/light.fit", -1},
      {"/d.1/a_3.b.fit", -1},    {"/x/99999999999.fit", -1}, {"/x/0.avi", 0},
  };
  for (const auto& [name, number] : cases) EXPECT_EQ(GetSeriesNumber(name), number) << name;
}

TEST(SeriesNumber, IncrementCountsTheLastThreeDigitsBeforeTheExtension) {
  const std::pair<const char*, const char*> counted[] = {
      {"/d/Bild0009.fit", "/d/Bild0010.fit"}, {"Bild9.fit", "Bild10.fit"}, {"a0099.fit", "a0100.fit"},
      {"x199", "x200"},   {"/d.5/b12", "/d.5/b13"},  {"99.tif", "100.tif"}, {"/v/9", "/v/10"},
      {"c0.a.fit", "c0.a.fit"},
  };
  for (const auto& [name, next] : counted) {
    std::string s = name;
    const bool expected = std::string(name) != next;
    EXPECT_EQ(IncrementSeriesFileName(s), expected) << name;
    EXPECT_EQ(s, next) << name;
  }
  for (const char* name : {"b999.fit", "1999.fit", "abc.fit", "/d9/.fit", "", "/d/7/light.fit"}) {
    std::string s = name;
    EXPECT_FALSE(IncrementSeriesFileName(s)) << name;
    EXPECT_EQ(s, name);
  }
  // The counted name gives the next series number.
  std::string s = "/d/frame_0099.fit";
  ASSERT_TRUE(IncrementSeriesFileName(s));
  EXPECT_EQ(GetSeriesNumber(s), 100);
}

}  // namespace
}  // namespace astrelon::test
