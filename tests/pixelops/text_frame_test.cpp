// The caption block: layout, border and frame composition, the header
// information text and the settings file "qz_text.ini".
#include <cmath>

#include "pixelops/stamping/header_info_text.h"
#include "pixelops/stamping/text_frame.h"
#include "pixelops/stamping/text_frame_settings.h"
#include "store/color_models.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class TextFrame : public StoreTest {};

TTextFrameInput Plain(int w, int h, int border, int frame) {
  TTextFrameInput in;
  in.Width = w, in.Height = h, in.Border = border, in.FrameWidth = frame, in.FrameOn = true;
  in.TextHeight = 13, in.LineCount = 0, in.HasTitle = false;
  return in;
}

// Composes a caption without text: the text area is the background.
void Compose(int slot, const TTextFrameInput& in, bool transition, int32_t frame = 0xFFFFFF) {
  const TTextFrameLayout l = LayoutTextFrame(in);
  TTextAreaBitmap bmp{l.ResultWidth, l.TextAreaHeight, 1, {}};
  bmp.Bytes.assign(size_t(bmp.Width) * size_t(bmp.Height), 0);
  ASSERT_TRUE(ComposeTextFrame(slot, l, {frame, 0}, transition, false, bmp));
}

TEST_F(TextFrame, BorderAndFrameWithoutText) {
  std::vector<float> picture(100 * 80);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = float(50 + i % 7);
  MakeImage(1, 100, 80, {picture});
  Store.Display[1].Black = 20, Store.Display[1].White = 220;
  Compose(1, Plain(100, 80, 10, 2), false);
  const TImageSlot& im = Store.Image[1];
  ASSERT_EQ(im.Width, 120);
  ASSERT_EQ(im.Height, 100);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 100; ++x) ASSERT_EQ(im.At(1, x + 10, y + 10), picture[size_t(y * 100 + x)]);
  for (int y = 8; y <= 91; ++y)
    for (int x : {8, 9, 110, 111}) EXPECT_FLOAT_EQ(im.At(1, x, y), 220.0f) << x << "," << y;
  for (int x = 8; x <= 111; ++x)
    for (int y : {8, 9, 90, 91}) EXPECT_FLOAT_EQ(im.At(1, x, y), 220.0f) << x << "," << y;
  for (int y = 0; y < 100; ++y) EXPECT_FLOAT_EQ(im.At(1, 0, y), 20.0f);
  EXPECT_FLOAT_EQ(im.At(1, 60, 99), 20.0f);
}

TEST_F(TextFrame, TransitionRunsFromFrameToBackground) {
  MakeImage(1, 40, 30, {std::vector<float>(1200, 100)});
  Store.Display[1].Black = 0, Store.Display[1].White = 255;
  Compose(1, Plain(40, 30, 12, 8), true);
  const TImageSlot& im = Store.Image[1];
  // Left of the picture on row 20: the frame colour at the picture, falling to black outward.
  EXPECT_FLOAT_EQ(im.At(1, 11, 20), 255.0f);
  for (int x = 11; x > 0; --x) EXPECT_GE(im.At(1, x, 20), im.At(1, x - 1, 20)) << x;
  EXPECT_LT(im.At(1, 5, 20), 255.0f);
  EXPECT_FLOAT_EQ(im.At(1, 0, 20), 0.0f);
  // A frame wider than the border reaches into the picture only with the transition.
  MakeImage(2, 40, 30, {std::vector<float>(1200, 100)});
  Store.Display[2].Black = 0, Store.Display[2].White = 255;
  Compose(2, Plain(40, 30, 2, 5), true);
  EXPECT_GT(Store.Image[2].At(1, 2, 15), 100.0f);
  EXPECT_FLOAT_EQ(Store.Image[2].At(1, 20, 15), 100.0f);
  MakeImage(3, 40, 30, {std::vector<float>(1200, 100)});
  Compose(3, Plain(40, 30, 2, 5), false);
  EXPECT_FLOAT_EQ(Store.Image[3].At(1, 2, 15), 100.0f);
}

TEST_F(TextFrame, ColourFrameOnAYuvImage) {
  // Grey-looking YUV pixels (U = V = 0) stay grey in RGB; the frame is red only in plane 1.
  MakeImage(1, 20, 10, {std::vector<float>(200, 80), std::vector<float>(200, 0), std::vector<float>(200, 0)});
  Store.Image[1].ColorModel = CmYuv;
  Store.Display[1].Black = 0, Store.Display[1].White = 255;
  Compose(1, Plain(20, 10, 4, 2), false, 0x0000FF | 0x01000000);
  const TImageSlot& im = Store.Image[1];
  EXPECT_EQ(im.ColorModel, CmRgb);
  for (int p = 1; p <= 3; ++p) EXPECT_FLOAT_EQ(im.At(p, 10, 8), 80.0f) << p;
  EXPECT_FLOAT_EQ(im.At(1, 3, 8), 255.0f);
  EXPECT_FLOAT_EQ(im.At(2, 3, 8), 0.0f);
  EXPECT_FLOAT_EQ(im.At(3, 3, 8), 0.0f);
}

TEST_F(TextFrame, LayoutOfTitleAndLines) {
  TTextFrameInput in = Plain(300, 200, 10, 2);
  in.LineCount = 2, in.HasTitle = true, in.TitleWidth = 40, in.TitleHeight = 21;
  EXPECT_EQ(TextLeftIndent(in), 6 + 40 + 13 - 2);
  EXPECT_EQ(TextBlockWidth(in), 300 - 57 - 6 + 2);
  const TTextFrameLayout l = LayoutTextFrame(in);
  EXPECT_EQ(l.LineHeight, 17);
  EXPECT_EQ(l.TextBlock, 51);
  EXPECT_EQ(l.TextTop, 212);
  EXPECT_EQ(l.ResultHeight, 263);
  EXPECT_TRUE(l.Fits);
  EXPECT_EQ(l.LineY(0, 2), 24 - 17);
  // Too narrow for the indent: no result.
  in.Width = 30;
  EXPECT_FALSE(LayoutTextFrame(in).Fits);
}

TEST_F(TextFrame, HeaderInformationText) {
  MakeImage(1, 4, 4, {std::vector<float>(16, 0)});
  SetHeaderKeyword(1, "EXPOSURE", "", 600, true, false, false);
  SetHeaderString(1, "INSTRUME", "TestCam");
  SetHeaderKeyword(1, "CCD-TEMP", "", -10, true, false, false);
  SetHeaderString(1, "OBJECT", "M 42");
  SetHeaderString(1, "RA", "05 35 17");
  SetHeaderString(1, "DEC", "-05 23 28");
  using K = THeaderInfoKey;
  const auto ticked = [](std::initializer_list<K> keys) {
    THeaderInfoChoice c{};
    for (K k : keys) c[size_t(k)] = true;
    return c;
  };
  EXPECT_EQ(BuildHeaderInfoText(1, ticked({K::Exposure}), ""), "10min");
  EXPECT_EQ(BuildHeaderInfoText(1, ticked({K::Instrument, K::CcdTemp}), ""), "TestCam @ -10.0\u00B0C");
  EXPECT_EQ(BuildHeaderInfoText(1, ticked({K::CcdTemp}), "Orion"), "Orion, CCD @ -10.0\u00B0C");
  EXPECT_EQ(BuildHeaderInfoText(1, ticked({K::Object, K::Exposure}), "old"), "M 42, 10min");
  EXPECT_EQ(BuildHeaderInfoText(1, ticked({K::Ra, K::Dec}), "x"), "x\nRA: 05 35 17  DEC: -05 23 28");
  SetHeaderKeyword(1, "EXPOSURE", "", 599.5, true, false, false);
  EXPECT_EQ(BuildHeaderInfoText(1, ticked({K::Exposure}), ""), "599.5s");
  EXPECT_TRUE(HeaderInfoAvailable(1, K::Instrument));
  EXPECT_FALSE(HeaderInfoAvailable(1, K::Telescope));
  EXPECT_FALSE(HeaderInfoAvailable(1, K::TimeObs));
}

TEST(TextFrameSettingsFile, WriteReadAndBadLines) {
  ConfigHome home;
  TTextFrameSettings defaults;
  const std::vector<std::string> expected{"Rahmen", "16777215", "2", "Arial", "10", "16777215", "nein", "nein",
                                          "nein", "nein", "0", "8", "nicht abgerundet", "10", "kein Uebergang",
                                          "LinksAusrichtung"};
  EXPECT_EQ(TextFrameSettingsLines(defaults), expected);
  TTextFrameSettings s;
  s.FrameOn = false, s.FontName = "DejaVu Sans", s.Bold = true, s.BorderWidth = "25", s.Transition = true;
  s.Alignment = TTextAlignment::Right, s.TitleFactor = 12, s.Background = 255;
  ASSERT_TRUE(WriteTextFrameSettings(s));
  TTextFrameSettings back;
  ASSERT_TRUE(ReadTextFrameSettings(back));
  EXPECT_EQ(TextFrameSettingsLines(back), TextFrameSettingsLines(s));

  // 13 lines: border 10, transition and alignment kept.
  TTextFrameSettings t = s;
  std::vector<std::string> lines = expected;
  lines.resize(13);
  ApplyTextFrameSettingsLines(lines, t);
  EXPECT_EQ(t.BorderWidth, "10");
  EXPECT_TRUE(t.Transition);
  EXPECT_EQ(t.Alignment, TTextAlignment::Right);
  lines = expected;
  lines[15] = "Mitte";
  ApplyTextFrameSettingsLines(lines, t);
  EXPECT_EQ(t.Alignment, TTextAlignment::Centre);
  // Garbage numbers keep the values; an empty file changes nothing.
  TTextFrameSettings u;
  ApplyTextFrameSettingsLines({"Rahmen", "rot", "x", "", "zehn", "\x01\x02", "ja", "nein", "nein", "nein", "",
                               "99", "abgerundet", "breit"},
                              u);
  EXPECT_EQ(u.FrameColour, 16777215);
  EXPECT_EQ(u.FrameWidth, "2");
  EXPECT_EQ(u.FontName, "Arial");
  EXPECT_EQ(u.FontSize, 10);
  EXPECT_EQ(u.TitleFactor, 8);
  EXPECT_EQ(u.BorderWidth, "10");
  EXPECT_TRUE(u.Bold && u.Smooth);
  TTextFrameSettings v;
  ApplyTextFrameSettingsLines({}, v);
  EXPECT_EQ(TextFrameSettingsLines(v), expected);
  WriteText(home.path().string() + "/astrelon/qz_text.ini", std::string("\xff\xfe\x00\x01garbage", 11));
  TTextFrameSettings w;
  EXPECT_TRUE(ReadTextFrameSettings(w));
  EXPECT_EQ(TextFrameSettingsLines(w)[1], "16777215");
}

}  // namespace
}  // namespace astrelon::test
