// Histogram settings files: what is written, what comes back, and files that
// are refused without touching the slot.
#include <bit>
#include <cstdint>
#include <filesystem>
#include <string>

#include "common/text_codec.h"
#include "store/display/display_histogram.h"
#include "store/display/histogram_settings_file.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class HistogramSettingsFileTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    for (int slot : {1, 2}) {
      MakeImage(slot, 4, 2, {{0, 100, 200, 300, 400, 500, 600, 1000}});
      ResetDisplayRange(slot, 0);
    }
  }
  std::string Text(const std::string& name) { return ReadTextFile(name).value_or(""); }
  TempDir dir;
};

// Every field a file carries, compared bit for bit.
void ExpectSameSettings(const TDisplayRecord& a, const TDisplayRecord& b, bool curve) {
  for (auto [x, y] : {std::pair{a.Gamma, b.Gamma}, {a.Black, b.Black}, {a.White, b.White}, {a.RangeLow, b.RangeLow},
                      {a.RangeHigh, b.RangeHigh}})
    EXPECT_EQ(std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y));
  EXPECT_EQ(a.CurveMode, b.CurveMode);
  EXPECT_EQ(a.LumaOnly, b.LumaOnly);
  if (!curve) return;
  for (size_t k = 0; k < 7; ++k) {
    EXPECT_EQ(std::bit_cast<uint32_t>(a.CurvePoints[k].X), std::bit_cast<uint32_t>(b.CurvePoints[k].X)) << k;
    if (k >= 1 && k <= 5) EXPECT_EQ(std::bit_cast<uint32_t>(a.CurvePoints[k].Y), std::bit_cast<uint32_t>(b.CurvePoints[k].Y)) << k;
  }
}

TEST_F(HistogramSettingsFileTest, EachModeComesBackBitForBit) {
  struct Case {
    float Gamma;
    uint8_t CurveMode, LumaOnly;
    size_t Lines;
  };
  for (const Case& c : {Case{2.3456789f, 0, 1, 8}, Case{0.2f, 1, 0, 8}, Case{-0.35f, 1, 1, 8}, Case{-10.0f, 0, 0, 18},
                        Case{-10.0f, 1, 1, 18}}) {
    TDisplayRecord& d = Store.Display[1];
    d.Gamma = c.Gamma;
    d.CurveMode = c.CurveMode;
    d.LumaOnly = c.LumaOnly;
    d.Black = 12.345678f;
    d.White = 987.6543f;
    d.RangeLow = -0.1f;
    d.RangeHigh = 1234.5677f;
    d.CurvePoints = {{{12.345678f, 0}, {100.1f, 0.1f}, {200.3f, 1.0f / 3}, {333.33334f, 0.5f}, {512, 0.7f},
                      {900.99f, 0.99999f}, {987.6543f, 1}}};
    const std::string name = dir.file("set.txt");
    ASSERT_TRUE(SaveHistogramSettings(1, name));
    const std::string written = dir.file("set.qzh");  // the extension is replaced
    const std::string text = Text(written);
    EXPECT_EQ(SplitLines(text).size(), c.Lines) << c.Gamma;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.find(','), std::string::npos);
    ASSERT_TRUE(LadeHistogrammeinstellung(2, dir.file("set.fit"), false));
    ExpectSameSettings(Store.Display[2], d, c.Lines == 18);
  }
}

TEST_F(HistogramSettingsFileTest, OlderFilesCommasAndTheLoadedRecord) {
  struct Case {
    const char* Text;
    float Gamma;
    uint8_t CurveMode, LumaOnly;
  };
  // Line 6 of an older layout decides the rounded flag of a gamma > 0, whatever line 7 says.
  for (const Case& c : {Case{"1.5\n0\n500\n0\n1000\ngammanull\neckig\nNurLgamma\n", 1.5f, 1, 1},
                        Case{"1,5\n0\n500\n0\n1000\nno gammanull\nabgerundet\nRGBgamma\n", 1.5f, 0, 0},
                        Case{"-0,5\n0\n500\n0\n1000\ngammanull\neckig\nRGBgamma", -0.5f, 0, 0},
                        // An undefined negative gamma is kept (the window shows it as the equalisation mode).
                        Case{"-3\n0\n500\n0\n1000\nx\nabgerundet\nx\n", -3.0f, 1, 0}}) {
    WriteText(dir.file("old.qzh"), c.Text);
    Store.Display[1].SqrtHistogram = 1;
    ASSERT_TRUE(LadeHistogrammeinstellung(1, dir.file("old.qzh"), false)) << c.Text;
    const TDisplayRecord& d = Store.Display[1];
    EXPECT_EQ(d.Gamma, c.Gamma);
    EXPECT_EQ(d.CurveMode, c.CurveMode) << c.Text;
    EXPECT_EQ(d.LumaOnly, c.LumaOnly);
    EXPECT_EQ(d.White, 500.0f);
    EXPECT_EQ(d.SqrtHistogram, 0);  // the display was reset first
  }
  // Applied at once: the range is kept valid and the histogram counted on it.
  WriteText(dir.file("now.qzh"), "1\n100\n50\n0\n1000\nx\nabgerundet\nRGBgamma\n");
  ASSERT_TRUE(LadeHistogrammeinstellung(1, dir.file("now.qzh"), true));
  EXPECT_LT(Store.Display[1].Black, Store.Display[1].White);
  EXPECT_GT(Store.Display[1].HistogramPeak, 0);
}

TEST_F(HistogramSettingsFileTest, MissingShortAndMalformedFilesChangeNothing) {
  const std::string good = "1\n0\n500\n0\n1000\nx\neckig\nRGBgamma\n";
  const std::string curve = "-10\n0\n500\n0\n1000\nx\neckig\nRGBgamma\n1\n0.1\n2\n0.2\n3\n0.3\n4\n0.4\n5\n";
  const std::string cases[] = {
      "",
      "1\n0\n500\n0\n1000\n",                         // ends after the numbers
      "1\n0\n500\n0\n1000\nx\neckig",                 // one text line short
      curve,                                           // one curve value short
      "1\nschwarz\n500\n0\n1000\nx\neckig\nRGBgamma\n",
      "1\n\n500\n0\n1000\nx\neckig\nRGBgamma\n",
      "1\n0\n1e999\n0\n1000\nx\neckig\nRGBgamma\n",
      "1\n0\n1e39\n0\n1000\nx\neckig\nRGBgamma\n",     // beyond a float
      "nan\n0\n500\n0\n1000\nx\neckig\nRGBgamma\n",
      "1\n0\ninf\n0\n1000\nx\neckig\nRGBgamma\n",
      "-10\n0\n500\n0\n1000\nx\neckig\nRGBgamma\n1\n0.1\n2\n\n3\n0.3\n4\n0.4\n5\n0.5\n",
      good + std::string(70000, ' '),                  // oversized
  };
  TDisplayRecord& d = Store.Display[1];
  d.Gamma = 2.5f;
  d.Black = 7;
  d.SqrtHistogram = 1;
  const TDisplayRecord before = d;
  for (const std::string& text : cases) {
    WriteText(dir.file("bad.qzh"), text);
    std::string error;
    EXPECT_FALSE(LadeHistogrammeinstellung(1, dir.file("bad.qzh"), true, &error)) << text;
    EXPECT_FALSE(error.empty());
    ExpectSameSettings(d, before, true);
    EXPECT_EQ(d.SqrtHistogram, 1);
  }
  std::string error;
  EXPECT_FALSE(LadeHistogrammeinstellung(1, dir.file("none.qzh"), true, &error));
  EXPECT_NE(error.find("none.qzh"), std::string::npos);
  EXPECT_FALSE(LadeHistogrammeinstellung(0, dir.file("bad.qzh"), true));
  // The complete curve file loads.
  WriteText(dir.file("curve.qzh"), curve + "0.5\n");
  ASSERT_TRUE(LadeHistogrammeinstellung(1, dir.file("curve.qzh"), false));
  EXPECT_EQ(d.CurvePoints[5].X, 5.0f);
  EXPECT_EQ(d.CurvePoints[5].Y, 0.5f);
  EXPECT_EQ(d.CurvePoints[6].X, 500.0f);
}

}  // namespace
}  // namespace astrelon::test
