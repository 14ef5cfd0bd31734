// The small picture routines: colour test, colour mix, soft disc, glyph states.
#include "store/display/bitmap_tools.h"

#include <gtest/gtest.h>

namespace astrelon {
namespace {

// A 24-bit bitmap filled with one colour.
TDisplayBitmap Filled(int w, int h, TColor c) {
  TDisplayBitmap b;
  b.Resize(w, h, TBitmapFormat::Bgr24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = b.Row(y).data() + 3 * x;
      p[0] = uint8_t(BlueOf(c)), p[1] = uint8_t(GreenOf(c)), p[2] = uint8_t(RedOf(c));
    }
  return b;
}

TColor At(TDisplayBitmap& b, int x, int y) {
  const uint8_t* p = b.Row(y).data() + 3 * x;
  return RgbColor(p[2], p[1], p[0]);
}

TEST(BitmapTools, ColourTestAndMix) {
  TDisplayBitmap grey = Filled(3, 2, RgbColor(90, 90, 90));
  EXPECT_FALSE(IsGreyBitmap(ViewOf(grey)));
  grey.Row(1)[7] = 91;  // green of pixel (2, 1)
  EXPECT_TRUE(IsGreyBitmap(ViewOf(grey)));
  TDisplayBitmap row = Filled(3, 1, RgbColor(255, 0, 0));
  EXPECT_FALSE(IsGreyBitmap(ViewOf(row)));  // one row high
  TDisplayBitmap indexed;
  indexed.Resize(2, 2, TBitmapFormat::Indexed8);
  indexed.ColourTable = DisplayColourTables()[1];
  EXPECT_FALSE(IsGreyBitmap(ViewOf(indexed)));
  indexed.ColourTable[0] = PackRgb(10, 20, 30);
  EXPECT_TRUE(IsGreyBitmap(ViewOf(indexed)));

  EXPECT_EQ(MixColors(RgbColor(255, 0, 0), RgbColor(0, 0, 255)), RgbColor(127, 0, 127));
  EXPECT_EQ(MixColors(RgbColor(10, 21, 255), RgbColor(11, 20, 254)), RgbColor(10, 20, 254));
}

TEST(BitmapTools, SmoothDiscCoversPixelsWithinItsRadius) {
  TDisplayBitmap b = Filled(21, 21, 0);
  DrawSmoothDisc(ViewOf(b), true, RgbColor(255, 255, 255), 10.0f, 10.0f, 1.49f);
  EXPECT_EQ(At(b, 10, 10), RgbColor(255, 255, 255));
  EXPECT_EQ(At(b, 11, 10), RgbColor(140, 140, 140));  // 1.245^2 - 1 = 0.55 of the colour
  EXPECT_EQ(At(b, 10, 9), RgbColor(140, 140, 140));
  EXPECT_EQ(At(b, 11, 11), 0u);
  EXPECT_EQ(At(b, 12, 10), 0u);

  // Darkening: white loses the ink, only where the ink is stronger.
  TDisplayBitmap w = Filled(21, 21, RgbColor(255, 255, 255));
  DrawSmoothDisc(ViewOf(w), false, RgbColor(200, 0, 100), 10.0f, 10.0f, 1.49f);
  EXPECT_EQ(At(w, 10, 10), RgbColor(55, 255, 155));
  EXPECT_EQ(At(w, 11, 10), RgbColor(145, 255, 200));  // 255 - round(200 * 0.55), 255 - round(100 * 0.55)

  // Clipped at the edges; an 8-bit picture takes the red byte.
  TDisplayBitmap g;
  g.Resize(3, 3, TBitmapFormat::Indexed8);
  DrawSmoothDisc(ViewOf(g), true, RgbColor(100, 255, 255), 0.0f, 0.0f, 3.0f);
  EXPECT_EQ(g.Row(0)[0], 100);
  EXPECT_EQ(g.Row(2)[2], 0);
  DrawSmoothDisc(ViewOf(g), true, RgbColor(100, 255, 255), -50.0f, 1e9f, 3.0f);  // far outside: nothing
}

TEST(BitmapTools, GlyphStripBecomesFourButtonStates) {
  const TColor clear = RgbColor(0, 255, 0), face = RgbColor(30, 60, 90);
  TDisplayBitmap b = Filled(8, 2, clear);
  uint8_t* p = b.Row(0).data();  // glyph pixel (0, 0) of image 1
  p[0] = 70, p[1] = 140, p[2] = 210;
  RecolorBitmap(ViewOf(b), face);
  EXPECT_EQ(At(b, 0, 0), RgbColor(180, 120, 60));  // darkened to 6/7
  EXPECT_EQ(At(b, 2, 0), RgbColor((2 * 30 + 180) / 3, (2 * 60 + 120) / 3, (2 * 90 + 60) / 3));
  EXPECT_EQ(At(b, 4, 0), RgbColor(180, 120, 60));
  EXPECT_EQ(At(b, 6, 0), RgbColor(210, 140, 70));  // the original glyph
  for (int x : {1, 3, 5}) EXPECT_EQ(At(b, x, 1), face) << x;
  EXPECT_EQ(At(b, 7, 1), clear);  // image 4 keeps the transparent colour

  // A glyph pixel that darkens into the transparent colour moves off it.
  TDisplayBitmap c = Filled(4, 2, RgbColor(0, 0, 0));
  c.Row(0)[0] = c.Row(0)[1] = c.Row(0)[2] = 1;  // darkens to (0, 0, 0)
  RecolorBitmap(ViewOf(c), face);
  EXPECT_EQ(At(c, 0, 0), RgbColor(0, 0, 1));
}

}  // namespace
}  // namespace astrelon
