#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "display_test_images.h"
#include "core/settings.h"
#include "platform/processor_features.h"
#include "shell/display/display_lut.h"
#include "shell/display/isophotes.h"
#include "shell/display/pixel_mapping.h"
#include "shell/display/renderer.h"
#include "shell/display/user_palette.h"
#include "store/display/colour_tables.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class RendererTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    savedSse = SseEnabled;
    savedSse2 = Sse2Enabled;
    savedAvx2 = Avx2Enabled;
  }
  void TearDown() override {
    SseEnabled = savedSse;
    Sse2Enabled = savedSse2;
    Avx2Enabled = savedAvx2;
    SetUserPalette({});
    StoreTest::TearDown();
  }
  // Renders slot 1 with the scalar, the SSE2 and the AVX2 paths (grey with
  // gathers, with single loads and by the table's steps), checks that they
  // agree byte for byte and returns the picture.
  TDisplayBitmap Render(int percent = 100, int slot = 1) {
    TDisplayBitmap scalar, sse2, vector, loads, steps;
    const TDisplayRecord saved = Store.Display[slot];
    SseEnabled = Sse2Enabled = false;
    EXPECT_TRUE(RenderSlotBitmap(slot, percent, scalar));
    Store.Display[slot] = saved;
    SseEnabled = Sse2Enabled = true;
    Avx2Enabled = false;
    EXPECT_TRUE(RenderSlotBitmap(slot, percent, sse2));
    Store.Display[slot] = saved;
    Avx2Enabled = true;
    GreyLookups = TGreyLookups::SingleLoads;
    EXPECT_TRUE(RenderSlotBitmap(slot, percent, loads));
    Store.Display[slot] = saved;
    GreyLookups = TGreyLookups::Steps;
    EXPECT_TRUE(RenderSlotBitmap(slot, percent, steps));
    Store.Display[slot] = saved;
    GreyLookups = TGreyLookups::Gather;
    EXPECT_TRUE(RenderSlotBitmap(slot, percent, vector));
    GreyLookups = TGreyLookups::Fastest;
    EXPECT_EQ(scalar.Pixels, vector.Pixels);
    EXPECT_EQ(sse2.Pixels, vector.Pixels);
    EXPECT_EQ(loads.Pixels, vector.Pixels);
    EXPECT_EQ(steps.Pixels, vector.Pixels);
    return vector;
  }
  // Grey bytes of a 1 x n image of the given values over black 0, white 65535.
  std::vector<int> GreyBytes(const std::vector<float>& values, float gamma, uint8_t curveMode) {
    MakeGreySlot(1, int(values.size()), 1, values, 0, 65535);
    Store.Display[1].Gamma = gamma;
    Store.Display[1].CurveMode = curveMode;
    const TDisplayBitmap b = Render();
    return std::vector<int>(b.Pixels.begin(), b.Pixels.begin() + b.Width);
  }
  bool savedSse = false, savedSse2 = false, savedAvx2 = true;
};

TEST_F(RendererTest, PowerGammaAtExactPoints) {
  // White 65535 makes the table index equal to the value.
  EXPECT_EQ(GreyBytes({0, 65535, 70000, -5, 32768}, 1, 0), (std::vector<int>{0, 255, 255, 0, 128}));
  // Gamma 2: even entries sqrt(i / 65535) * 255, odd ones the rounded-up mean.
  const auto g = GreyBytes({10000, 10001, 40000, 65534, 65535}, 2, 0);
  EXPECT_EQ(g[0], int(std::nearbyint(std::sqrt(10000 / 65535.0) * 255)));
  EXPECT_EQ(g[1], (g[0] + int(std::nearbyint(std::sqrt(10002 / 65535.0) * 255)) + 1) / 2);
  EXPECT_EQ(g[2], int(std::nearbyint(std::sqrt(40000 / 65535.0) * 255)));
  EXPECT_EQ(g[4], 255);
}

TEST_F(RendererTest, SoftenedGammaAtExactPoints) {
  // Gamma 1 softened is the straight ramp.
  EXPECT_EQ(GreyBytes({0, 16384, 32768, 65535}, 1, 1), (std::vector<int>{0, 64, 128, 255}));
  // Gamma 2: e = 0.25, k = 1.025.
  const double e = 0.25, k = 1.025, a = 1 - 1 / k, p0 = std::pow(a, e);
  const auto g = GreyBytes({0, 20000}, 2, 1);
  EXPECT_EQ(g[0], 0);
  EXPECT_EQ(g[1], int(std::nearbyint((std::pow(a + 20000 / (65535 * k), e) - p0) / (1 - p0) * 255)));
}

TEST_F(RendererTest, SmallGammaIsRaisedInTheRecord) {
  MakeGreySlot(1, 2, 1, {0, 1}, 0, 1);
  Store.Display[1].Gamma = 0.1f;
  TDisplayBitmap b;
  RenderSlotBitmap(1, 100, b);
  EXPECT_FLOAT_EQ(Store.Display[1].Gamma, 0.2f);
}

TEST_F(RendererTest, CurvesAtTheirPoints) {
  MakeGreySlot(1, 4, 1, {0, 10000, 30000, 65535}, 0, 65535);
  TDisplayRecord& d = Store.Display[1];
  d.Gamma = CurveModeGamma;
  d.CurvePoints = {{{0, 0}, {10000, 0.5f}, {20000, 0.6f}, {30000, 0.7f}, {40000, 0.8f}, {50000, 0.9f}, {65535, 1}}};
  d.CurveMode = 0;  // polygon, truncated
  TDisplayBitmap b = Render();
  EXPECT_EQ(b.Pixels[0], 0);
  EXPECT_EQ(b.Pixels[1], 127);  // 0.5 * 255 = 127.5 truncated
  EXPECT_EQ(b.Pixels[2], 178);  // 0.7 * 255 = 178.5 truncated
  EXPECT_EQ(b.Pixels[3], 255);
  d.CurveMode = 1;  // smooth: passes near, not through, the inner points
  b = Render();
  EXPECT_EQ(b.Pixels[0], 0);
  EXPECT_EQ(b.Pixels[3], 255);
  EXPECT_NEAR(b.Pixels[2], 178, 8);
}

TEST_F(RendererTest, EqualisationMix) {
  // Half the pixels at 0.1, half at 0.9 of black..white.
  std::vector<float> v(200);
  for (size_t i = 0; i < v.size(); ++i) v[i] = i < 100 ? 0.1f : 0.9f;
  v.push_back(0.5f);
  MakeGreySlot(1, int(v.size()), 1, v, 0, 1);
  ComputeHistogram(1, false, false);
  TDisplayRecord& d = Store.Display[1];
  d.Gamma = 0;  // straight ramp
  TDisplayBitmap b = Render();
  EXPECT_EQ(b.Pixels[0], 26);
  EXPECT_EQ(b.Pixels[200], 128);
  d.Gamma = -1;  // full equalisation: half of the pixels lie below 0.5
  b = Render();
  EXPECT_NEAR(b.Pixels[200], 128, 2);
  EXPECT_GT(b.Pixels[199], 250);
  EXPECT_NEAR(b.Pixels[0], 128, 3);
}

TEST_F(RendererTest, FourGradientsWrapAround) {
  MakeGreySlot(1, 4, 1, {0, 0.125f, 0.375f, 1}, 0, 1);
  Store.Display[1].DisplayType = DtFourGradients;
  const TDisplayBitmap b = Render();
  ASSERT_EQ(b.Format, TBitmapFormat::Indexed8);
  EXPECT_EQ(b.Pixels[0], 0);
  EXPECT_EQ(b.Pixels[1], 128);  // 1023 / 8 = 127.9
  EXPECT_EQ(b.Pixels[2], 128);  // 383.6 -> 384 mod 256
  EXPECT_EQ(b.Pixels[3], 255);
  EXPECT_EQ(b.ColourTable, DisplayColourTables()[7]);
}

TEST_F(RendererTest, BlankPixelsAreIndexZero) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int type : {DtGrey, DtGradient, DtRed, DtFourGradients}) {
    MakeGreySlot(1, 9, 1, {BlankPixel, nan, -1e9f, 0.5f, BlankPixel, 1, 1, 1, nan}, 0, 1);
    Store.Display[1].DisplayType = type;
    Store.Display[1].Gamma = -0.5f;  // equalisation: its table need not start at 0
    const TDisplayBitmap b = Render();
    for (int x : {0, 1, 2, 4, 8}) EXPECT_EQ(b.Pixels[size_t(x)], 0) << type << " " << x;
  }
}

TEST_F(RendererTest, ColourTables) {
  const auto& t = DisplayColourTables();
  EXPECT_EQ(t[0][200], 0u);
  EXPECT_EQ(t[1][200], PackRgb(200, 200, 200));
  EXPECT_EQ(t[4][200], PackRgb(200, 0, 0));
  EXPECT_EQ(t[5][200], PackRgb(0, 200, 0));
  EXPECT_EQ(t[6][200], PackRgb(0, 0, 200));
  EXPECT_EQ(t[3][255], PackRgb(196, 0, 0));
  EXPECT_EQ(t[3][55], PackRgb(1, 130, 93));
  EXPECT_EQ(t[3][0], PackRgb(0, 5, 227));
  EXPECT_EQ(t[7][0], PackRgb(20, 118, 254));
  EXPECT_EQ(t[7][64], PackRgb(196, 0, 127));
  EXPECT_EQ(t[7][200], PackRgb(39, 249, 152));
}

TEST_F(RendererTest, RgbImageAsBlueGreenRed) {
  MakeColourSlot(1, 2, 1, {0.2f, 1}, {0.4f, BlankPixel}, {0.6f, 0}, CmRgb, 0, 1);
  const TDisplayBitmap b = Render();
  ASSERT_EQ(b.Format, TBitmapFormat::Bgr24);
  EXPECT_EQ(std::vector<int>(b.Pixels.begin(), b.Pixels.begin() + 6), (std::vector<int>{153, 102, 51, 0, 0, 255}));
}

TEST_F(RendererTest, LumaDisplayOfRgb) {
  MakeColourSlot(1, 2, 1, {0.2f, 0.5f}, {0.4f, BlankPixel}, {0.6f, 0.5f}, CmRgb, 0, 1);
  Store.Display[1].LumaOnly = 1;
  const TDisplayBitmap b = Render();
  // Straight gamma: the luma keeps its level, channels keep their distance scaled by L / (L + 0.01).
  const double l = 0.299 * 0.2 + 0.587 * 0.4 + 0.114 * 0.6, q = l / (l + 0.01);
  EXPECT_NEAR(b.Pixels[2], ((0.2 - l) * q + l) * 255, 1.0);
  EXPECT_NEAR(b.Pixels[1], ((0.4 - l) * q + l) * 255, 1.0);
  EXPECT_NEAR(b.Pixels[0], ((0.6 - l) * q + l) * 255, 1.0);
  EXPECT_EQ(b.Pixels[4], 0);  // blank green
}

TEST_F(RendererTest, YuvDisplay) {
  MakeColourSlot(1, 3, 1, {0.4f, 0.4f, BlankPixel}, {0, 0.1f, 0.1f}, {0, 0.05f, 0.2f}, CmYuv, 0, 1);
  const TDisplayBitmap b = Render();
  EXPECT_EQ(std::vector<int>(b.Pixels.begin(), b.Pixels.begin() + 3), (std::vector<int>{102, 102, 102}));
  const double q = 0.4 / 0.41;
  EXPECT_NEAR(b.Pixels[5], (1.1402508551881414 * 0.05 * q + 0.4) * 255, 1.0);
  EXPECT_NEAR(b.Pixels[4], ((-0.58080920903 * 0.05 - 0.39393070275 * 0.1) * q + 0.4) * 255, 1.0);
  EXPECT_NEAR(b.Pixels[3], (2.028397565922921 * 0.1 * q + 0.4) * 255, 1.0);
  EXPECT_EQ(std::vector<int>(b.Pixels.begin() + 6, b.Pixels.begin() + 9), (std::vector<int>{0, 0, 0}));  // blank Y
}

TEST_F(RendererTest, OwnPalette) {
  std::vector<uint32_t> pal(65536);
  for (uint32_t i = 0; i < pal.size(); ++i) pal[i] = PackRgb(i >> 8, 255 - (i >> 8), 7);
  SetUserPalette(pal);
  MakeGreySlot(1, 3, 1, {0, 65535, BlankPixel}, 0, 65535);
  Store.Display[1].DisplayType = DtOwnPalette;
  const TDisplayBitmap b = Render();
  ASSERT_EQ(b.Format, TBitmapFormat::Bgr24);
  EXPECT_EQ(std::vector<int>(b.Pixels.begin(), b.Pixels.begin() + 9), (std::vector<int>{7, 255, 0, 7, 0, 255, 0, 0, 0}));
  SetUserPalette({PackRgb(1, 2, 3)});  // too small for the 16-bit display: grey
  EXPECT_EQ(Render().Format, TBitmapFormat::Indexed8);
}

TEST_F(RendererTest, HalfAndQuarterSampleWithinEachAxis) {
  auto check = [&](int w, int h) {
    std::vector<float> v(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) v[size_t(y) * size_t(w) + size_t(x)] = float((x * 7 + y * 13) % 256);
    MakeGreySlot(1, w, h, v, 0, 255);
    for (int percent : {50, 25}) {
      const TDisplayBitmap b = Render(percent);
      const int bw = std::max(w * percent / 100, 1), bh = std::max(h * percent / 100, 1);
      ASSERT_EQ(b.Width, bw);
      ASSERT_EQ(b.Height, bh);
      const int o = 50 / percent;
      const int ox = std::min(o, bw - 1), oy = std::min(o, bh - 1);
      for (int y = 0; y < bh; ++y)
        for (int x = 0; x < bw; ++x) {
          const int sx = ox + x * (w / bw), sy = oy + y * (h / bh);
          ASSERT_LT(sx, w);
          ASSERT_LT(sy, h);
          ASSERT_EQ(b.Row(y)[size_t(x)], (sx * 7 + sy * 13) % 256) << w << "x" << h << " " << percent;
        }
    }
  };
  check(1, 37);
  check(37, 1);
  check(3, 1000);
  check(1000, 3);
  check(5, 7);
}

TEST_F(RendererTest, ColourAtQuarterSize) {
  std::vector<float> r(64), g(64), b(64);
  for (size_t i = 0; i < 64; ++i) {
    r[i] = float(i) / 64;
    g[i] = 1 - float(i) / 64;
    b[i] = 0.5f;
  }
  MakeColourSlot(1, 8, 8, r, g, b, CmRgb, 0, 1);
  const TDisplayBitmap bmp = Render(25);
  ASSERT_EQ(bmp.Width, 2);
  // The offset 2 is cut to the picture size - 1: pixel (1, 1), then (5, 1).
  EXPECT_EQ(bmp.Pixels[2], int(std::nearbyint(float(1 * 8 + 1) / 64 * 255)));
  EXPECT_EQ(bmp.Pixels[5], int(std::nearbyint(float(1 * 8 + 5) / 64 * 255)));
  EXPECT_EQ(bmp.Pixels[4], int(std::nearbyint((1 - float(1 * 8 + 5) / 64) * 255)));
}

TEST_F(RendererTest, VectorAndScalarPathsAgreeOnRandomImages) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-20.0f, 120.0f);
  const int w = 67, h = 9;
  auto plane = [&] {
    std::vector<float> v(size_t(w) * h);
    for (size_t i = 0; i < v.size(); ++i) v[i] = (i % 31 == 0) ? BlankPixel : u(rng);
    v[3] = std::numeric_limits<float>::quiet_NaN();
    v[4] = 0.0f;
    v[5] = 100.0f;
    v[6] = std::numeric_limits<float>::infinity();
    return v;
  };
  for (int model : {CmRgb, CmYuv}) {
    for (int lumaOnly = 0; lumaOnly <= 1; ++lumaOnly) {
      for (float gamma : {1.0f, 2.2f, -0.5f}) {
        MakeColourSlot(1, w, h, plane(), plane(), plane(), model, 0, 100);
        ComputeHistogram(1, false, false);
        Store.Display[1].Gamma = gamma;
        Store.Display[1].LumaOnly = uint8_t(lumaOnly);
        Render(100);
        Render(50);
      }
    }
  }
  MakeGreySlot(1, w, h, plane(), 0, 100);
  for (int type = DtGrey; type <= DtOwnPalette; ++type) {
    Store.Display[1].DisplayType = type;
    Render(100);
    Render(25);
  }
}

TEST_F(RendererTest, TableStepsGiveTheTableBytes) {
  // Tables that never decrease (from above 0, with jumps, flat, a single step at
  // the ends) map by their steps as through the table; one that decreases
  // somewhere has no steps.
  const std::vector<std::function<int(uint32_t)>> tables = {
      [](uint32_t i) { return int(i >> 8); },
      [](uint32_t i) { return 40 + int(i / 400); },
      [](uint32_t i) { return std::min(255, int(i * i / 1000000)); },
      [](uint32_t i) { return i < 30000 ? 7 : 200; },
      [](uint32_t i) { return i == 65535 ? 255 : 0; },
      [](uint32_t i) { return i == 0 ? 0 : 255; },
      [](uint32_t) { return 90; },
  };
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-100.0f, 66000.0f);
  std::vector<float> v(1000);
  for (float& x : v) x = u(rng);
  for (const float special : {0.0f, 1.0f, 65534.6f, 65535.0f, 29999.5f, 30000.5f, BlankPixel,
                              std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
    v.insert(v.begin() + 37 * (v.size() % 20), special);
  for (size_t t = 0; t < tables.size(); ++t) {
    std::vector<uint8_t> lut(LutSize + ByteLutSpare, 0);
    for (uint32_t i = 0; i < BlankIndex; ++i) lut[i] = uint8_t(tables[t](i));
    lut[BlankIndex] = 3;
    const TByteLutSteps steps = ByteLutSteps(lut);
    ASSERT_TRUE(steps.Usable) << t;
    std::vector<uint8_t> plain(v.size()), bySteps(v.size());
    MapThroughByteLut(v, 0.0f, 1.0f, lut.data(), plain, 1, false);
    GreyLookups = TGreyLookups::Steps;
    MapThroughByteLut(v, 0.0f, 1.0f, lut.data(), bySteps, 1, true, &steps);
    GreyLookups = TGreyLookups::Fastest;
    EXPECT_EQ(bySteps, plain) << t;
    if (lut[64999] > 0) {
      lut[65000] = uint8_t(lut[64999] - 1);
      EXPECT_FALSE(ByteLutSteps(lut).Usable) << t;
    }
  }
}

TEST_F(RendererTest, IsophotesMarkStepBorders) {
  std::vector<uint8_t> p = {10, 10, 40, 40, 10, 10, 40, 40, 10, 10, 40, 40};
  DrawIsophotes(p, 4, 3, 4);
  EXPECT_EQ(p, (std::vector<uint8_t>{10, 10, 40, 40, 10, 255, 40, 40, 10, 10, 40, 40}));
}

TEST_F(RendererTest, IsophotesOnBandsOfRowsEqualOnePass) {
  // Brightness steps that rise upwards in many columns make the lines of a row
  // depend on the rows far above it.
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> any(0, 255), low(0, 31);
  for (int round = 0; round < 20; ++round) {
    const int w = 5 + round * 3, h = 3 + round * 4;
    std::vector<uint8_t> picture(size_t(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        picture[size_t(y * w + x)] = uint8_t((x + round) % 3 ? ((h - y) % 8) * 32 + low(rng) : any(rng));
    std::vector<uint8_t> once = picture;
    DrawIsophotes(once, w, h, w, 1);
    for (int threads = 2; threads <= 9; ++threads) {
      std::vector<uint8_t> banded = picture;
      DrawIsophotes(banded, w, h, w, threads);
      ASSERT_EQ(banded, once) << w << " x " << h << " on " << threads << " threads";
    }
  }
}

TEST_F(RendererTest, ThreadsGiveTheSameBytes) {
  // 1024 x 600 pixels: several bands at full size.
  const int w = 1024, h = 600;
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(-20.0f, 1100.0f);
  auto plane = [&] {
    std::vector<float> v(size_t(w) * h);
    for (size_t i = 0; i < v.size(); ++i) v[i] = (i % 4099 == 0) ? BlankPixel : u(rng);
    return v;
  };
  auto renderBoth = [&](int percent) {
    const TDisplayRecord saved = Store.Display[1];
    Options.Multicore = 0;
    const TDisplayBitmap one = Render(percent);
    Store.Display[1] = saved;
    Options.Multicore = 1;
    const TDisplayBitmap many = Render(percent);
    EXPECT_EQ(one.Pixels, many.Pixels) << "type " << saved.DisplayType << " gamma " << saved.Gamma;
  };
  std::vector<uint32_t> palette(65536);
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = uint32_t(i * 2654435761u) & 0xFFFFFF;
  SetUserPalette(palette);
  MakeGreySlot(1, w, h, plane(), 0, 1000);
  ComputeHistogram(1, false, false);
  for (int type = DtGrey; type <= DtOwnPalette; ++type) {
    for (float gamma : {2.2f, -0.6f, CurveModeGamma}) {
      Store.Display[1].DisplayType = type;
      Store.Display[1].Gamma = gamma;
      renderBoth(100);
    }
  }
  renderBoth(50);
  for (int model : {CmRgb, CmYuv}) {
    for (int lumaOnly = 0; lumaOnly <= 1; ++lumaOnly) {
      MakeColourSlot(1, w, h, plane(), plane(), plane(), model, 0, 1000);
      Store.Display[1].LumaOnly = uint8_t(lumaOnly);
      renderBoth(100);
    }
  }
  Options.Multicore = 1;
}

class FakeWindow : public TImageWindowLink {
public:
  int MarkCount() const override { return 0; }
  bool MarkImageRect(int, TRectI&) const override { return false; }
  bool MarkerVisible(int) const override { return false; }
  TPointI MarkerImagePoint(int) const override { return {}; }
  bool SelectionVisible(int) const override { return false; }
  TRectI SelectionImageRect(int) const override { return {}; }
  void MoveMark(int, const TRectI&) override {}
  void CentreSelection(int, double, double) override {}
  void SetOperationIcons(bool) override {}
  void ShowProgressBar(int, const std::string&) override {}
  void HideProgressBar() override {}
  bool IsActiveWindow() const override { return true; }
};

int Rebuilds = 0;
void CountRebuilds(int, bool rebuilt) { Rebuilds += rebuilt ? 1 : 0; }

TEST_F(RendererTest, WindowBuildsOnlyWhenFinerOrChanged) {
  FakeWindow window;
  MakeGreySlot(2, 40, 20, std::vector<float>(800, 0.5f), 0, 1);
  Store.HasWindow[2] = 1;
  Store.Window[2] = &window;
  SetWindowRenderedHandler(CountRebuilds);
  Rebuilds = 0;
  TDisplayRecord& d = Store.Display[2];
  d.ZoomPercent = 17;
  RenderImageWindow(2, false);
  EXPECT_EQ(WindowBitmap(2).Width, 10);
  EXPECT_EQ(d.BuiltLevel, 3);
  EXPECT_FLOAT_EQ(RenderScale(2), 0.25f);
  d.ZoomPercent = 35;
  RenderImageWindow(2, false);
  EXPECT_EQ(WindowBitmap(2).Width, 20);
  EXPECT_EQ(Rebuilds, 2);
  d.ZoomPercent = 17;
  RenderImageWindow(2, false);
  EXPECT_EQ(Rebuilds, 2);
  EXPECT_EQ(WindowBitmap(2).Width, 20);
  d.Changed = 1;
  RenderImageWindow(2, true);
  EXPECT_EQ(Rebuilds, 3);
  EXPECT_EQ(WindowBitmap(2).Width, 40);
  EXPECT_EQ(d.Changed, 0);
  EXPECT_EQ(ZoomStatusText(2), "Zoom: 17%");
  Store.HasWindow[3] = 1;  // no window object: nothing happens
  MakeGreySlot(3, 4, 4, {}, 0, 1);
  RenderImageWindow(3, false);
  EXPECT_TRUE(WindowBitmap(3).Empty());
  SetWindowRenderedHandler(nullptr);
  ReleaseWindowBitmap(2);
  Store.Window[2] = nullptr;
}

}  // namespace
}  // namespace astrelon::test
