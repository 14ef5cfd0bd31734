// The speckle window's fields in the packed parameter text.
#include <cctype>
#include <cmath>

#include <gtest/gtest.h>

#include "core/packed_params.h"
#include "core/speckle_settings.h"

namespace astrelon {
namespace {

TEST(SpeckleSettings, DefaultsPackToTheStartOfThePackedDefault) {
  EXPECT_EQ(EncodeSpeckleSettings({}), "0A32104511020");
  EXPECT_EQ(std::string(PackedParamsDefault).substr(0, 13), "0A32104511020");
  EXPECT_EQ(DecodeSpeckleSettings(PackedParamsDefault), TSpeckleSettings{});
}

TEST(SpeckleSettings, RoundTripsAndReadsEitherHexCase) {
  TSpeckleSettings s;
  s.Margin = 171, s.Seeing = 7, s.MaxSteps = 3, s.MaxRadiusTenths = 2559, s.ResolutionTenths = 152,
  s.DOverR0Tenths = 1234;
  const std::string text = EncodeSpeckleSettings(s);
  EXPECT_EQ(text, "AB073FF9F27B4");
  EXPECT_EQ(DecodeSpeckleSettings(text), s);
  std::string lower = text;
  for (char& c : lower) c = char(std::tolower(c));
  EXPECT_EQ(DecodeSpeckleSettings(lower), s);
}

TEST(SpeckleSettings, ShortOrGarbageTextKeepsDefaults) {
  const TSpeckleSettings def;
  EXPECT_EQ(DecodeSpeckleSettings(""), def);
  EXPECT_EQ(DecodeSpeckleSettings("FF12345"), def);  // 7 characters
  // 8 to 12 characters: the first five fields only.
  const TSpeckleSettings eight = DecodeSpeckleSettings("FF123077");
  EXPECT_EQ(eight.Margin, 255);
  EXPECT_EQ(eight.Seeing, 18);
  EXPECT_EQ(eight.MaxSteps, 3);
  EXPECT_EQ(eight.MaxRadiusTenths, 77);
  EXPECT_EQ(eight.ResolutionTenths, def.ResolutionTenths);
  EXPECT_EQ(DecodeSpeckleSettings("FF123077F9FF9").DOverR0Tenths, 2559);
  // Characters that do not convert keep their field's default, the rest reads.
  const TSpeckleSettings g = DecodeSpeckleSettings("zz$4x12?.Q-!?");
  EXPECT_EQ(g.Margin, def.Margin);
  EXPECT_EQ(g.Seeing, def.Seeing);
  EXPECT_EQ(g.MaxSteps, def.MaxSteps);
  EXPECT_EQ(g.MaxRadiusTenths, 0x12 * 10 + 5);
  EXPECT_EQ(g.ResolutionTenths, def.ResolutionTenths);
  EXPECT_EQ(g.DOverR0Tenths, def.DOverR0Tenths);
  EXPECT_EQ(DecodeSpeckleSettings("\x01\xff\x80\x7f zzzzzzzzzz"), def);
}

TEST(SpeckleSettings, TenthsAreRoundedFirstAndClamped) {
  struct TCase {
    double value;
    int32_t maxWhole, tenths;
    const char* text;
  };
  for (const TCase c : {TCase{4.5, 255, 45, "4.5"}, {4.96, 255, 50, "5.0"}, {4.94, 255, 49, "4.9"},
                        {300, 255, 2559, "255.9"}, {-2, 255, 0, "0.0"}, {16.2, 15, 159, "15.9"},
                        {0.05, 15, 0, "0.0"}}) {
    EXPECT_EQ(SpeckleTenths(c.value, c.maxWhole), c.tenths) << c.value;
    EXPECT_EQ(SpeckleTenthsText(c.tenths), c.text);
  }
  EXPECT_EQ(SpeckleTenths(std::nan(""), 255), 0);
  // Field values beyond what the characters hold are clamped, never spill.
  TSpeckleSettings s;
  s.Margin = 999, s.Seeing = -5, s.MaxSteps = 12, s.MaxRadiusTenths = 99999;
  EXPECT_EQ(EncodeSpeckleSettings(s), "FF009FF911020");
}

TEST(SpeckleSettings, StoringReplacesTheFirstThirteenCharactersOnly) {
  std::string packed = PackedParamsDefault;
  TSpeckleSettings s;
  s.MaxSteps = 2;
  StoreSpeckleSettings(s, packed);
  EXPECT_EQ(packed, "0A32204511020" + std::string(PackedParamsDefault).substr(13));
  std::string shortText = "12345";
  StoreSpeckleSettings({}, shortText);
  EXPECT_EQ(shortText, "0A32104511020");
}

}  // namespace
}  // namespace astrelon
