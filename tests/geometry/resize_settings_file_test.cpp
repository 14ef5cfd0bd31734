#include "pixelops/geometry/resize_settings_file.h"

#include <stdexcept>

#include "test_support.h"

namespace astrelon {
namespace {

// Settings as a dialog holds them before a file is read.
TResizeSettings Before() {
  TResizeSettings s;
  s.PixelTab = true;
  s.Horizontal = "7";
  s.Vertical = "8";
  s.Kind = 4;
  s.AntiMoire = false;
  s.Box = true;
  return s;
}

TEST(ResizeSettingsFile, ReadingFollowsTheLineRules) {
  struct TCase {
    const char* name;
    std::string content;
    TResizeSettings expected;
  };
  const std::string huge(3'000'000, '5');
  const TCase cases[] = {
      {"factors", "V4 G0.5\n0.5\n2\nAMF\nnoBOX\n", {false, "0.5", "0.5", 2, true, false}},
      {"crlf", "V4 G0.25\r\n0.3\r\n0\r\nnoAMF\r\nBOX\r\n", {false, "0.25", "0.3", 0, false, true}},
      {"one line", "0.5", {false, "0.5", "", 4, false, false}},
      {"pixels", "V4 P640\n480\n", {true, "640", "480", 4, false, false}},
      {"empty", "", {false, "", "", 4, false, false}},
      {"three lines", "V4 G2\n2\n1\n", {false, "2", "2", 1, false, false}},
      // A line 3 that is no integer: kind and anti-moiré stay, line 4 is read as line 5.
      {"bad kind", "V4 G2\n3\nabc\nBOX\n", {false, "2", "3", 4, false, true}},
      {"kind out of range", "V4 G2\n3\n9\nAMF\nBOX\n", {false, "2", "3", 4, true, true}},
      {"huge line", "V4 G" + huge + "\n0.5\n", {false, std::string(996, '5'), "0.5", 4, false, false}},
      {"binary", std::string("\x00\xff\x01V\n\x80\x81", 7), {false, std::string("\0\xc3\xbf\x01V", 5), "\xe2\x82\xac\xc2\x81", 4, false, false}},
  };
  test::TempDir dir;
  for (const TCase& c : cases) {
    const std::string file = dir.file("s.qzg");
    test::WriteText(file, c.content);
    TResizeSettings s = Before();
    ASSERT_TRUE(ReadResizeSettings(file, s)) << c.name;
    EXPECT_EQ(s.PixelTab, c.expected.PixelTab) << c.name;
    EXPECT_EQ(s.Horizontal, c.expected.Horizontal) << c.name;
    EXPECT_EQ(s.Vertical, c.expected.Vertical) << c.name;
    EXPECT_EQ(s.Kind, c.expected.Kind) << c.name;
    EXPECT_EQ(s.AntiMoire, c.expected.AntiMoire) << c.name;
    EXPECT_EQ(s.Box, c.expected.Box) << c.name;
  }
  TResizeSettings s = Before();
  EXPECT_FALSE(ReadResizeSettings(dir.file("missing.qzg"), s));
  EXPECT_EQ(s.Horizontal, "7");
  EXPECT_FALSE(ReadResizeSettings(dir.path().string(), s));  // a folder
}

TEST(ResizeSettingsFile, WrittenFilesReadBack) {
  test::TempDir dir;
  const TResizeSettings s{true, "640", "480", 3, false, true};
  EXPECT_EQ(ResizeSettingsText(s), "V4 P640\n480\n3\nnoAMF\nBOX\n");
  ASSERT_TRUE(WriteResizeSettings(dir.file("a.qzg"), s));
  TResizeSettings r;
  ASSERT_TRUE(ReadResizeSettings(dir.file("a.qzg"), r));
  EXPECT_EQ(ResizeSettingsText(r), ResizeSettingsText(s));
  std::string error;
  EXPECT_FALSE(WriteResizeSettings(dir.file("no/such/folder/a.qzg"), s, &error));
  EXPECT_FALSE(error.empty());
}

TEST(ResizeSettingsFile, RequestsFromTheEntries) {
  TResizeSettings f{false, "0,5", "2", 3, true, false};
  auto r = ResizeRequest(f);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->RatioX, 0.5);
  EXPECT_EQ(r->RatioY, 2.0);
  EXPECT_FALSE(r->SizesGiven);
  EXPECT_EQ(r->Kind, 3);
  TResizeSettings p{true, " 640", "480", 2, true, true};
  r = ResizeRequest(p);
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->SizesGiven);
  EXPECT_EQ(r->NewWidth, 640);
  EXPECT_EQ(r->NewHeight, 480);
  EXPECT_TRUE(r->Box);
  // Empty and non-positive entries do nothing; text that is no number is an error.
  for (auto [h, v] : {std::pair{"", "1"}, std::pair{"1", ""}, std::pair{"0", "1"}, std::pair{"1", "-2"}}) {
    EXPECT_FALSE(ResizeRequest({false, h, v, 2, true, false})) << h << "/" << v;
    EXPECT_FALSE(ResizeRequest({true, h, v, 2, true, false})) << h << "/" << v;
  }
  EXPECT_THROW(ResizeRequest({false, "abc", "1", 2, true, false}), std::invalid_argument);
  EXPECT_THROW(ResizeRequest({true, "64.5", "1", 2, true, false}), std::invalid_argument);
  EXPECT_FALSE(ResizeRequest({false, "-1", "abc", 2, true, false}));  // the second entry is not read
}

}  // namespace
}  // namespace astrelon
