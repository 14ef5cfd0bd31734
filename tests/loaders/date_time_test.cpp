#include <gtest/gtest.h>

#include "common/date_time.h"
#include "common/file_extension.h"

namespace astrelon {
namespace {

TEST(DateTime, DayNumbersFollowTheClassicEpoch) {
  EXPECT_EQ(*EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_EQ(*EncodeDateTime({1970, 1, 1, 0, 0, 0, 0}), 25569.0);
  EXPECT_DOUBLE_EQ(*EncodeDateTime({2009, 5, 17, 18, 0, 0, 0}), 39950.75);
  EXPECT_FALSE(EncodeDateTime({2009, 2, 29, 0, 0, 0, 0}));
  EXPECT_TRUE(EncodeDateTime({2008, 2, 29, 0, 0, 0, 0}));
  EXPECT_FALSE(EncodeDateTime({2009, 5, 17, 24, 0, 0, 0}));
}

TEST(DateTime, FormatsDateAndTimeForCards) {
  const TDateTime t = *EncodeDateTime({2009, 5, 17, 22, 14, 5, 0});
  EXPECT_EQ(FormatIsoDate(t), "2009-05-17");
  EXPECT_EQ(FormatTimeOfDay(t), "22:14:05");
  const TDateTimeParts p = DecodeDateTime(t);
  EXPECT_EQ(p.Year, 2009);
  EXPECT_EQ(p.Month, 5);
  EXPECT_EQ(p.Day, 17);
  EXPECT_EQ(p.Second, 5);
}

TEST(FileExtension, TakesTheLastComponentOnly) {
  EXPECT_EQ(UpperFileExt("/data/m31.fits"), ".FITS");
  EXPECT_EQ(UpperFileExt("/data.d/m31"), "");
  EXPECT_EQ(UpperFileExt("noext"), "");
  EXPECT_EQ(ReplaceFileExt("/a.b/img.tar.fit", ".png"), "/a.b/img.tar.png");
  EXPECT_EQ(ReplaceFileExt("/a.b/img", ".jpg"), "/a.b/img.jpg");
  EXPECT_EQ(FileNamePart("/a/b/c.bmp"), "c.bmp");
}

}  // namespace
}  // namespace astrelon
