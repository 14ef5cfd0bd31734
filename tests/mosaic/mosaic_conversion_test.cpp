// The colour-mosaic conversion and its ".qcm" settings files.
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "../pixelops/slot_images.h"
#include "common/engine_ui.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "pixelops/mosaic/mosaic_interpolation_stage.h"
#include "pixelops/mosaic/mosaic_settings_file.h"
#include "store/header_cards.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class MosaicConversionTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    MosaicSettings = TMosaicSettings{};
    MosaicSettings.Method = DmHalfSize;
    MosaicSettings.CameraProfile = false;
    EngineUi().Messages.clear();
  }
  void TearDown() override {
    MosaicSettings = TMosaicSettings{};
    StoreTest::TearDown();
  }
  // A w x h mosaic in slot 1 with value f(x, y).
  template <typename F>
  static void PutMosaic(int w, int h, F f) {
    std::vector<float> v(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) v[size_t(y * w + x)] = f(x, y);
    PutImage(1, w, h, {v});
    Store.FileName[1] = "/d/img.fit";
  }
  // RGGB flat: red 50, greens 100, blue 200.
  static float Flat(int x, int y) { return (x & 1) == 0 && (y & 1) == 0 ? 50.0f : (x & 1) && (y & 1) ? 200.0f : 100.0f; }
};

TEST_F(MosaicConversionTest, SizesAndOpenImages) {
  PutMosaic(6, 6, Flat);
  const int r = GenerateRgbFromMosaic(1);
  ASSERT_GT(r, 1);
  EXPECT_EQ(Store.Image[size_t(r)].Width, 3);
  EXPECT_EQ(Store.Image[size_t(r)].Height, 3);
  EXPECT_EQ(CountOpenWindows(), 2);  // the working copy is gone
  FreeSlot(r);
  PutMosaic(7, 9, Flat);
  const int odd = GenerateRgbFromMosaic(1);
  ASSERT_GT(odd, 1);
  EXPECT_EQ(Store.Image[size_t(odd)].Width, 3);
  EXPECT_EQ(Store.Image[size_t(odd)].Height, 4);
  FreeSlot(odd);
  PutMosaic(5, 6, Flat);
  EXPECT_EQ(GenerateRgbFromMosaic(1), -1);
  PutMosaic(6, 6, Flat);
  for (int s = 2; s <= 48; ++s) PutImage(s, 2, 2, {{1, 2, 3, 4}});
  EXPECT_EQ(GenerateRgbFromMosaic(1), -1);
  FreeSlot(48);
  EXPECT_EQ(GenerateRgbFromMosaic(1), 49);  // the working copy took 48
  EXPECT_EQ(GenerateRgbFromMosaic(2), -1);  // 2 x 2
  // A method whose interpolation is not there makes nothing.
  MosaicSettings.Method = DmLinear;
  if (!MosaicMethodAvailable(DmLinear)) EXPECT_EQ(GenerateRgbFromMosaic(1), -1);
}

TEST_F(MosaicConversionTest, HalfSizeTakesEachCell) {
  PutMosaic(6, 6, [](int x, int y) { return float(y * 10 + x); });
  for (const auto& [cells, red, green1, green2, blue] :
       {std::tuple{TMosaicCells{McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1}, 0, 1, 10, 11},
        std::tuple{TMosaicCells{McGreen, McBlue, McRed, McGreen, -1, -1, -1, -1}, 10, 0, 11, 1},
        std::tuple{TMosaicCells{McBlue, McGreen, McGreen, McRed, -1, -1, -1, -1}, 11, 1, 10, 0}}) {
    MosaicSettings.Cells = cells;
    const int r = GenerateRgbFromMosaic(1);
    ASSERT_GT(r, 1);
    const TImageSlot& im = Store.Image[size_t(r)];
    ASSERT_EQ(im.PlaneCount, 3);
    EXPECT_TRUE(im.IsColor);
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 3; ++i) {
        const float base = float(20 * j + 2 * i);
        EXPECT_EQ(im.At(1, i, j), base + float(red));
        EXPECT_EQ(im.At(2, i, j), base + float(green1 + green2) / 2.0f);
        EXPECT_EQ(im.At(3, i, j), base + float(blue));
      }
    // "RGB_" before the working copy's name, numbered as a copy.
    EXPECT_EQ(Store.FileName[size_t(r)], "/d/RGB_img_3.fit");
    EXPECT_EQ(GetHeaderValue(r, "NAXIS3", false), "3");
    FreeSlot(r);
  }
}

TEST_F(MosaicConversionTest, BiasMultipliersAndBlanks) {
  MosaicSettings.Rmul = "2";
  MosaicSettings.Bmul = "0,5";
  PutMosaic(8, 8, Flat);
  int r = GenerateRgbFromMosaic(1);
  ASSERT_GT(r, 1);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(Store.Image[size_t(r)].At(p, 1, 2), 100.0f);
  FreeSlot(r);

  // Every red blank: no red within 5 gives 0 (no bias taken off); a blank blue
  // takes the median of its neighbours.
  MosaicSettings.Rmul = MosaicSettings.Bmul = "1";
  MosaicSettings.Bias = "10";
  PutMosaic(12, 12, [](int x, int y) {
    if ((x & 1) == 0 && (y & 1) == 0) return BlankPixel;
    return x == 5 && y == 5 ? std::nanf("") : Flat(x, y) + float(x);
  });
  r = GenerateRgbFromMosaic(1);
  ASSERT_GT(r, 1);
  const TImageSlot& im = Store.Image[size_t(r)];
  EXPECT_EQ(im.At(1, 2, 2), 0.0f);
  EXPECT_EQ(im.At(2, 2, 2), 100.0f + 4.5f - 10.0f);
  EXPECT_EQ(im.At(3, 2, 2), 200.0f + 5.0f - 10.0f);  // median of 3, 5, 7 along the blue columns
  EXPECT_EQ(im.RawMultipliers[0], 1.0f);

  // A number that is none is refused with a message.
  MosaicSettings.Bias = "abc";
  EXPECT_EQ(GenerateRgbFromMosaic(1), -1);
  EXPECT_EQ(EngineUi().Messages.size(), 1u);
}

TEST_F(MosaicConversionTest, SizeRatios) {
  PutMosaic(40, 40, Flat);
  const auto blankColumns = [](int r, int p) {
    const TImageSlot& im = Store.Image[size_t(r)];
    int n = 0;
    for (int x = 0; x < im.Width; ++x) n += !IsValidPixel(im.At(p, x, 10));
    return n;
  };
  for (const auto& [ratio, blanks, unchanged] :
       {std::tuple{"0.99", 1, false}, std::tuple{"1.01", 0, false}, std::tuple{"1.000001", 0, true}}) {
    MosaicSettings.RedRatio = ratio;
    const int r = GenerateRgbFromMosaic(1);
    ASSERT_GT(r, 1);
    EXPECT_EQ(blankColumns(r, 1), blanks) << ratio;
    EXPECT_EQ(blankColumns(r, 3), 0);
    EXPECT_EQ(!IsValidPixel(Store.Image[size_t(r)].At(1, 10, 0)), blanks > 0) << ratio;
    if (unchanged) EXPECT_EQ(Store.Image[size_t(r)].At(1, 0, 0), 50.0f);
    FreeSlot(r);
  }
}

// The stage gets the prepared working mosaic and a three-plane result of it.
TEST_F(MosaicConversionTest, InterpolationStageGetsThePreparedMosaic) {
  auto& routines = MosaicStageRoutines();
  const auto saved = routines;
  static TMosaicStage seen;
  routines[DmAstro] = [](const TMosaicStage& s) {
    seen = s;
    return true;
  };
  MosaicSettings.Method = DmAstro;
  MosaicSettings.Bias = "5";
  MosaicSettings.Rmul = "3";
  PutMosaic(8, 8, Flat);
  const int r = GenerateRgbFromMosaic(1);
  routines = saved;
  ASSERT_GT(r, 1);
  EXPECT_EQ(seen.Destination, r);
  EXPECT_EQ(seen.Method, DmAstro);
  EXPECT_EQ(seen.RedMultiplier, 3.0);
  EXPECT_EQ(seen.RedColumns.size(), 8u);
  EXPECT_GE(seen.Noise, 0.1);
  const TImageSlot& im = Store.Image[size_t(r)];
  ASSERT_EQ(im.Width, 8);
  for (int p = 1; p <= 3; ++p) {
    EXPECT_EQ(im.At(p, 0, 0), 135.0f);
    EXPECT_EQ(im.At(p, 1, 0), 95.0f);
  }
  EXPECT_FALSE(SlotInUse(seen.Source));  // the working copy is closed
  bool history = false;
  for (const std::string& card : Store.Header[size_t(r)].ActiveCards())
    history |= card.find("HISTORY Farb-CCD zu RGB Bild Bayer, astro") == 0;
  EXPECT_TRUE(history);
}

// ---- ".qcm" files ----

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    out.push_back(text.substr(start, end - start));
  return out;
}

TEST_F(MosaicConversionTest, SettingsFiles) {
  TempDir dir;
  const std::string name = dir.file("a.qcm");
  MosaicSettings.Rmul = "3.5";
  MosaicSettings.NetworkFile = "/n/net.bin";
  WriteText(name, "2\n1\n1\n0\nNein\n");
  ASSERT_TRUE(ReadMosaicSettings(name));
  TMosaicSettings expected;
  expected.Cells = {McBlue, McGreen, McGreen, McRed, -1, -1, -1, -1};
  expected.Method = DmLinear;
  expected.CameraProfile = false;
  expected.NetworkFile = "/n/net.bin";
  EXPECT_EQ(MosaicSettings, expected);

  WriteText(name, "0\n1\n1\n2\nNein\n9\n");
  ASSERT_TRUE(ReadMosaicSettings(name));
  EXPECT_EQ(MosaicSettings.Method, DmNetwork);

  TMosaicSettings defaults;
  defaults.Method = DmAstro;
  EXPECT_EQ(Lines(MosaicSettingsText(defaults)),
            (std::vector<std::string>{"0", "1", "1", "2", "Nein", "4", "Nein", "1.00", "1.00", "0", "1.000", "1.000",
                                      "1.00", "", "Nein", "Ja"}));

  TMosaicSettings all;
  all.Cells = {McCyan, McMagenta, McYellow, McGreen, McRed, McBlue, -1, McGreen};
  all.FourRows = true;
  all.Method = DmLinear;
  all.PixFilter = true;
  all.Rmul = "1,25";
  all.Bias = "100";
  all.RedRatio = "0.999";
  all.G1mul = "1.1";
  all.NetworkFile = "/n/x y.bin";
  all.Highlights = true;
  ASSERT_TRUE(WriteMosaicSettings(dir.file("b.txt"), all));
  ASSERT_TRUE(ReadMosaicSettings(dir.file("b.qcm")));
  EXPECT_EQ(MosaicSettings, all);
  EXPECT_FALSE(ReadMosaicSettings(dir.file("missing.qcm")));
  EXPECT_EQ(MosaicSettings, all);
}

TEST_F(MosaicConversionTest, BadSettingsFilesChangeNothing) {
  TempDir dir;
  const std::string name = dir.file("bad.qcm");
  const TMosaicSettings before = MosaicSettings;
  for (const std::string& text :
       {std::string(), std::string("\x00\x01\xff\xfe garbage", 13), std::string("0\n1\n1\n"),
        std::string("0\n1\n99\n2\nNein\n"), std::string("0\n1\n1\n2\nJa\n0\n1\n-2\n1\n"),
        std::string("0\n1\n1\n2\nNein\nzwei\n"), std::string("0\n1\n1\n2\nNein\n-3\n"),
        std::string("1.5\n1\n1\n2\nNein\n"), std::string(200000, '7')}) {
    WriteText(name, text);
    EngineUi().Messages.clear();
    EXPECT_FALSE(ReadMosaicSettings(name)) << text.substr(0, 20);
    EXPECT_EQ(EngineUi().Messages.size(), 1u);
    EXPECT_EQ(MosaicSettings, before);
  }
}

// A ".qcm" whose green multiplier makes the mosaic values huge (1e13 and
// more, up to the float range): no method writes NaN (the V.N.G. weights times
// two differences passed the float range; values near it overflowed every
// method). A multiplier beyond the float range is no number.
TEST_F(MosaicConversionTest, HugeMultipliersGiveNoNaN) {
  TempDir dir;
  const std::string name = dir.file("huge.qcm");
  for (const char* g1 : {"1e13", "1e15", "1e30", "3e38"})
    for (const int method : {DmLinear, DmVng, DmHalfSize, DmKimmel, DmAstro}) {
      WriteText(name, "0\n1\n1\n2\nNein\n" + std::to_string(method) + "\nNein\n1.00\n1.00\n0\n1.000\n1.000\n" + g1 + "\n");
      ASSERT_TRUE(ReadMosaicSettings(name));
      MosaicSettings.CameraProfile = false;
      Store.Reset();
      PutMosaic(24, 20, [](int x, int y) { return Flat(x, y) + float((x * 7 + y * 3) % 13); });
      const int r = GenerateRgbFromMosaic(1);
      ASSERT_GT(r, 0) << g1 << " " << method;
      int nan = 0;
      for (int p = 1; p <= 3; ++p)
        for (const float v : Store.Image[size_t(r)].Planes[size_t(p)]) nan += std::isnan(v);
      EXPECT_EQ(nan, 0) << g1 << " " << method;
    }
  EXPECT_TRUE(EngineUi().Messages.empty());
  MosaicSettings.G1mul = "1e65";
  EXPECT_EQ(GenerateRgbFromMosaic(1), -1);
  EXPECT_EQ(EngineUi().Messages, std::vector<std::string>{"'1e65' ist kein gültiger Gleitkommawert"});
}

// A refused file or number quotes at most 40 characters of its line.
TEST_F(MosaicConversionTest, MessagesQuoteAtMostFortyCharacters) {
  TempDir dir;
  const std::string name = dir.file("long.qcm"), line(60000, '7');
  WriteText(name, "1" + line + "\n1\n1\n2\nNein\n");
  EXPECT_FALSE(ReadMosaicSettings(name));
  ASSERT_EQ(EngineUi().Messages.size(), 1u);
  EXPECT_EQ(EngineUi().Messages[0], name + "\nZeile 1: '1" + std::string(39, '7') + "...' ist kein gültiger Integerwert");
  // A number line of the file is read as text; the conversion refuses it.
  EngineUi().Messages.clear();
  WriteText(name, "0\n1\n1\n2\nNein\n1\nNein\nx" + line + "\n");
  ASSERT_TRUE(ReadMosaicSettings(name));
  PutMosaic(24, 20, Flat);
  EXPECT_EQ(GenerateRgbFromMosaic(1), -1);
  ASSERT_EQ(EngineUi().Messages.size(), 1u);
  EXPECT_EQ(EngineUi().Messages[0], "'x" + std::string(39, '7') + "...' ist kein gültiger Gleitkommawert");
  EXPECT_LT(EngineUi().Messages[0].size(), 100u);
}

}  // namespace
}  // namespace astrelon::test
