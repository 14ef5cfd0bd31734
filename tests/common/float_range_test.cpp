// Numbers for float pixels: texts a float cannot hold are no numbers, and
// factors are held within the factor limit.
#include <cmath>
#include <limits>
#include <optional>

#include <gtest/gtest.h>

#include "common/float_range.h"
#include "common/number_text.h"

namespace astrelon {
namespace {

TEST(FloatRange, TextsBeyondTheFloatRangeAreNoNumbersAndFactorsAreLimited) {
  struct Case {
    const char* text;
    std::optional<double> value;
  };
  for (const Case& c : {Case{"3,4e38", 3.4e38}, Case{"-3.4e38", -3.4e38}, Case{"3.41e38", std::nullopt},
                        Case{"-1e39", std::nullopt}, Case{"1e-60", 1e-60}, Case{"  2,5 ", 2.5}, Case{"inf", std::nullopt},
                        Case{"1e999", std::nullopt}})
    EXPECT_EQ(TryStrToFloat32Dot(c.text), c.value) << c.text;
  EXPECT_EQ(LimitFactor(3e38), 1e8);
  EXPECT_EQ(LimitFactor(-std::numeric_limits<double>::infinity()), -1e8);
  EXPECT_EQ(LimitFactor(std::nan("")), 0.0);
  EXPECT_EQ(LimitFactor(-12.5), -12.5);
}

}  // namespace
}  // namespace astrelon
