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

}  // namespace
}  // namespace astrelon::test
