// Main-window services without windows: zoom steps, window coordinates, busy
// cursor, recent files, observation time, selection clamp, pixel texts, colour
// pairing, rotation and the block detector.
#include "pixelops/geometry/rotate_image.h"
#include "shell/main/main_services.h"

#include <cmath>
#include <stdexcept>

#include "core/language.h"
#include "core/settings.h"
#include "platform/processor_features.h"
#include "shell/windows/window_coordinates.h"
#include "shell/windows/zoom_steps.h"
#include "store/color_models.h"
#include "store/header_cards.h"
#include "test_support.h"

namespace astrelon {
namespace {

class MainServicesTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    UnloadLanguageFile();
    savedSettings = Settings;
    AbortRequested = 0;
  }
  void TearDown() override {
    Settings = savedSettings;
    RecentFilesChangedHook = nullptr;
    test::StoreTest::TearDown();
  }
  void MakeImage(int slot, int w, int h, std::vector<std::vector<float>> planes) {
    TImageSlot& im = Store.Image[slot];
    im.Width = w;
    im.Height = h;
    im.PlaneCount = int(planes.size());
    im.IsColor = planes.size() == 3;
    for (size_t p = 0; p < planes.size(); ++p) im.Planes[p + 1].assign(planes[p].begin(), planes[p].end());
    Store.InUse[slot] = 1;
    Store.FileName[slot] = "/data/img.fit";
    MakeDefaultHeader(slot);
  }
  void AddCard(int slot, const std::string& card) { AppendHeaderCard(slot, card); }

  TSettingsVars savedSettings;
};

TEST(ZoomSteps, StepsLimitsAndAutozoom) {
  EXPECT_EQ(ZoomStepUp(17), 25);
  EXPECT_EQ(ZoomStepUp(280), 400);
  EXPECT_EQ(ZoomStepUp(400), 400);
  EXPECT_EQ(ZoomStepDown(100), 70);
  EXPECT_EQ(ZoomStepDown(17), 17);
  // 3270000 / 40000 = 81.75: the largest step below it is 70.
  EXPECT_EQ(MaxZoomStepForSize(40000, 100), 70);
  EXPECT_EQ(MaxZoomStepForSize(100, 100), 400);
  EXPECT_EQ(MaxZoomStepForSize(0, 0), 400);
  EXPECT_EQ(MaxZoomStepForSize(1000000, 10), 17);
  // 35 % would need 1750 x 1050; 25 % needs 1250 x 750.
  EXPECT_EQ(AutozoomPercent(5000, 3000, 1300, 800), 25);
  EXPECT_EQ(AutozoomPercent(6000, 4000, 1300, 800), 17);
  EXPECT_EQ(AutozoomPercent(1000, 800, 900, 700), 70);
  EXPECT_EQ(AutozoomPercent(900, 700, 900, 700), 100);
  // The zoom list maps its entries to codes and percents.
  for (int e = 1; e < ZoomListCount; ++e) EXPECT_EQ(ZoomCodePercent(ZoomListCodes[size_t(e)]), ZoomListPercents[size_t(e)]);
}

TEST(WindowCoordinates, MouseToImageAtEveryZoom) {
  for (int v : {0, 1, 7, 123}) EXPECT_EQ(MouseToImageCoord(100, v), v);
  EXPECT_EQ(MouseToImageCoord(50, 0), 1);
  EXPECT_EQ(MouseToImageCoord(50, 1), 3);  // (100 + 49) div 50 + 1
  EXPECT_EQ(MouseToImageCoord(200, 0), 0);
  EXPECT_EQ(MouseToImageCoord(200, 1), 0);
  EXPECT_EQ(MouseToImageCoord(200, 2), 1);
  EXPECT_EQ(MouseToImageCoord(25, 0), 3);  // 49 div 25 + 2
  EXPECT_EQ(MouseToImageCoord(400, 3), 0);
  EXPECT_EQ(MouseToImageCoord(400, 4), 1);
  EXPECT_EQ(MouseToImageCoord(0, 50), 0);
}

TEST(WindowCoordinates, ScreenAndImagePoints) {
  const TPointI origin{-40, 10};
  // 25 %: o = 50 div 25 = 2.
  EXPECT_EQ(ScreenToImagePoint(25, origin, {-40, 10}).X, 2);
  EXPECT_EQ(ScreenToImagePoint(25, origin, {-39, 11}).Y, 6);
  EXPECT_EQ(ImageToScreenPoint(25, origin, {2, 2}).X, -40);
  EXPECT_EQ(ImageToScreenPoint(25, origin, {102, 6}).X, -15);
  // 50 %: o = 1.
  EXPECT_EQ(ScreenToImagePoint(50, origin, {-30, 10}).X, 21);
  EXPECT_EQ(ImageToScreenPoint(50, origin, {21, 0}).X, -30);
  // 100 %: identity after the origin.
  EXPECT_EQ(ScreenToImagePoint(100, origin, {0, 0}).X, 40);
  EXPECT_EQ(ScreenToImagePoint(100, origin, {0, 0}).Y, -10);
  // 200 % and 400 %: o = 0.
  EXPECT_EQ(ScreenToImagePoint(200, origin, {-35, 15}).X, 2);
  EXPECT_EQ(ImageToScreenPoint(200, origin, {2, 2}).X, -36);
  EXPECT_EQ(ScreenToImagePoint(400, origin, {-25, 10}).X, 3);
  EXPECT_EQ(ImageToScreenPoint(400, origin, {3, 0}).X, -28);
  // A pixel's window rectangle covers the pixel at every zoom and converts back.
  for (int z : {25, 50, 100, 200, 400}) {
    const TRectI img{10, 20, 13, 29};
    const TRectI scr = ImageToScreenRect(z, origin, img);
    const TRectI back = ScreenToImageRect(z, origin, scr);
    if (z >= 100) {
      EXPECT_EQ(scr.Right - scr.Left, 4 * z / 100) << z;
      EXPECT_EQ(back.Left, img.Left) << z;
      EXPECT_EQ(back.Bottom, img.Bottom) << z;
    }
  }
  const TRectI r4 = ImageToScreenRect(400, {0, 0}, {3, 3, 3, 3});
  EXPECT_EQ(r4.Left, 12);
  EXPECT_EQ(r4.Right, 16);
  EXPECT_EQ(ControlToBitmapCoord(100, 250, 1000), 25);
}

TEST(BusyCursor, NestsAndSurvivesUnmatchedPops) {
  BusyCursorStack = {};
  PopBusyCursor();  // unmatched: default cursor, depth stays 0
  EXPECT_EQ(BusyCursorStack.Depth, 0);
  EXPECT_EQ(CurrentScreenCursor(), CursorDefault);
  PushBusyCursor(5);
  PushBusyCursor(CursorHourGlass);
  EXPECT_EQ(CurrentScreenCursor(), CursorHourGlass);
  PopBusyCursor();
  EXPECT_EQ(CurrentScreenCursor(), 5);
  PopBusyCursor();
  EXPECT_EQ(CurrentScreenCursor(), CursorDefault);
  // Beyond 32 the pushes only count; the pops restore once back under 32.
  for (int i = 0; i < 40; ++i) PushBusyCursor(int16_t(i + 1));
  EXPECT_EQ(BusyCursorStack.Depth, 40);
  for (int i = 0; i < 8; ++i) PopBusyCursor();
  EXPECT_EQ(CurrentScreenCursor(), 40);  // nothing restored above 32
  PopBusyCursor();
  EXPECT_EQ(CurrentScreenCursor(), 31);  // saved before push 32
  for (int i = 0; i < 31; ++i) PopBusyCursor();
  EXPECT_EQ(CurrentScreenCursor(), CursorDefault);
  EXPECT_EQ(BusyCursorStack.Depth, 0);
}

TEST_F(MainServicesTest, RecentFilesMoveUpAndCompareExactly) {
  int changes = 0;
  static int* counter = nullptr;
  counter = &changes;
  RecentFilesChangedHook = [] { ++*counter; };
  for (int k = 1; k <= 8; ++k) Settings.RecentFiles[size_t(k)] = "/img/f" + std::to_string(k) + ".fit";
  AddRecentFile("/img/f3.fit");
  EXPECT_EQ(Settings.RecentFiles[1], "/img/f3.fit");
  EXPECT_EQ(Settings.RecentFiles[2], "/img/f1.fit");
  EXPECT_EQ(Settings.RecentFiles[3], "/img/f2.fit");
  for (int k = 4; k <= 8; ++k) EXPECT_EQ(Settings.RecentFiles[size_t(k)], "/img/f" + std::to_string(k) + ".fit");
  // Different case is another file: it is added and the last entry drops.
  AddRecentFile("/img/F3.fit");
  EXPECT_EQ(Settings.RecentFiles[1], "/img/F3.fit");
  EXPECT_EQ(Settings.RecentFiles[2], "/img/f3.fit");
  EXPECT_EQ(Settings.RecentFiles[8], "/img/f7.fit");
  AddRecentFile("/img/F3.fit");  // already first: unchanged
  EXPECT_EQ(Settings.RecentFiles[2], "/img/f3.fit");
  AddRecentFile("");
  EXPECT_EQ(changes, 3);
  // A bare name takes the open dialog's folder.
  Settings.OpenDialogFileName = "/home/u/pics/last.png";
  AddRecentFile("m31.fit");
  EXPECT_EQ(Settings.RecentFiles[1], "/home/u/pics/m31.fit");
  RemoveRecentFile(1);
  EXPECT_EQ(Settings.RecentFiles[1], "/img/F3.fit");
  EXPECT_EQ(Settings.RecentFiles[8], "");
}

TEST_F(MainServicesTest, ObservationTimeFromHeader) {
  MakeImage(1, 2, 2, {{1, 2, 3, 4}});
  AddCard(1, "DATE-OBS= '2005-03-14T21:05:30' / start of exposure");
  TDateTime t = -1;
  ASSERT_TRUE(ReadObservationTime(1, t));
  const TDateTime expected = *EncodeDateTime({2005, 3, 14, 21, 5, 30, 0});
  EXPECT_NEAR(t, expected, 1e-9);

  // The old form DD/MM/YY names the 1900s; a separate TIME-OBS is used.
  MakeImage(2, 2, 2, {{1, 2, 3, 4}});
  AddCard(2, "DATE-OBS= '14/03/98'");
  AddCard(2, "TIME-OBS= '01:02:03.5'");
  ASSERT_TRUE(ReadObservationTime(2, t));
  EXPECT_NEAR(t, *EncodeDateTime({1998, 3, 14, 1, 2, 3, 500}), 1e-9);

  // A two-digit year written year first: below 50 is 20yy, else 19yy.
  MakeImage(3, 2, 2, {{1, 2, 3, 4}});
  AddCard(3, "DATE-OBS= '05-03-14'");
  AddCard(3, "UT      = '22:00:00'");
  ASSERT_TRUE(ReadObservationTime(3, t));
  EXPECT_NEAR(t, *EncodeDateTime({2005, 3, 14, 22, 0, 0, 0}), 1e-9);
  EXPECT_NEAR(*ParseDateText("14.03.75"), *EncodeDateTime({1975, 3, 14}), 1e-9);

  // DATE and TIME when there is no DATE-OBS; a date alone is midnight.
  MakeImage(4, 2, 2, {{1, 2, 3, 4}});
  AddCard(4, "DATE    = '2010-01-02'");
  ASSERT_TRUE(ReadObservationTime(4, t));
  EXPECT_NEAR(t, *EncodeDateTime({2010, 1, 2}), 1e-9);

  // No date, or a date that does not convert: false and t unchanged.
  MakeImage(5, 2, 2, {{1, 2, 3, 4}});
  t = 7;
  EXPECT_FALSE(ReadObservationTime(5, t));
  AddCard(5, "DATE-OBS= '2005-13-40'");
  EXPECT_FALSE(ReadObservationTime(5, t));
  EXPECT_EQ(t, 7);
}

TEST(ObservationTime, CameraDateTexts) {
  EXPECT_NEAR(ParseDateTimeText("2009:05:17 22:14:05"), *EncodeDateTime({2009, 5, 17, 22, 14, 5, 0}), 1e-9);
  EXPECT_NEAR(ParseDateTimeText("2009-05-17T22:14:05"), *EncodeDateTime({2009, 5, 17, 22, 14, 5, 0}), 1e-9);
  EXPECT_NEAR(ParseDateTimeText("09:05:17 22:14:05"), *EncodeDateTime({2009, 5, 17, 22, 14, 5, 0}), 1e-9);
  EXPECT_EQ(ParseDateTimeText("2009:05"), UnknownDateTime);
  EXPECT_EQ(ParseDateTimeText("garbage text"), UnknownDateTime);
}

TEST_F(MainServicesTest, CcdTemperature) {
  MakeImage(1, 1, 1, {{0}});
  EXPECT_EQ(ReadCcdTemperature(1), UnknownTemperature);
  AddCard(1, "CCD-TEMP=                -12.5 / degrees C");
  EXPECT_DOUBLE_EQ(ReadCcdTemperature(1), -12.5);
  MakeImage(2, 1, 1, {{0}});
  AddCard(2, "CCD-TEMP= 'cold'");
  EXPECT_EQ(ReadCcdTemperature(2), UnknownTemperature);
  MakeImage(3, 1, 1, {{0}});
  AddCard(3, "CCD-TEMP= '-5,25'");
  EXPECT_DOUBLE_EQ(ReadCcdTemperature(3), -5.25);
}

TEST_F(MainServicesTest, TextConversions) {
  EXPECT_DOUBLE_EQ(StrToFloatDot(" 1,5 "), 1.5);
  EXPECT_THROW(StrToFloatDot("1,5x"), std::invalid_argument);
  EXPECT_EQ(StrToIntTrim("  42 "), 42);
  EXPECT_THROW(StrToIntTrim("4 2"), std::invalid_argument);
  EXPECT_THROW(StrToIntTrim("99999999999"), std::invalid_argument);
  EXPECT_EQ(StripAccelerators("&Bild &rotieren"), "Bild rotieren");
  EXPECT_EQ(FormatFixed3(2.5), "2.500");
}

TEST_F(MainServicesTest, ClampSelection) {
  MakeImage(1, 10, 10, {std::vector<float>(100, 1)});
  SetWorkRect({9, 9, 3, 3});
  ClampSelectionToImage(1);
  EXPECT_EQ(WorkRect.x1, 8);
  EXPECT_EQ(WorkRect.y1, 8);
  EXPECT_EQ(WorkRect.x2, 9);
  EXPECT_EQ(WorkRect.y2, 9);
  const TRectI r = GetSelectionRect();
  EXPECT_EQ(r.Left, 8);
  EXPECT_EQ(r.Bottom, 9);
  // An image one pixel wide gets a one-pixel-wide rectangle, not -1.
  MakeImage(2, 1, 5, {std::vector<float>(5, 1)});
  SetWorkRect({0, 0, 0, 0});
  ClampSelectionToImage(2);
  EXPECT_EQ(WorkRect.x1, 0);
  EXPECT_EQ(WorkRect.x2, 0);
  EXPECT_EQ(WorkRect.y1, 0);
  EXPECT_EQ(WorkRect.y2, 1);
}

TEST_F(MainServicesTest, PixelValueTexts) {
  MakeImage(1, 2, 1, {{1234.5678f, BlankPixel}});
  EXPECT_EQ(PixelValueText(1, 0, 0), "X: 0  Y: 0  Wert: 1234.57");
  EXPECT_EQ(PixelValueText(1, 1, 0), "X: 1  Y: 0  Wert: Transparent");
  EXPECT_EQ(PixelValueText(1, 2, 0), "");
  EXPECT_EQ(PixelValueText(1, -1, 0), "");
  MakeImage(2, 1, 1, {{1}, {BlankPixel}, {0.5f}});
  EXPECT_EQ(PixelValueText(2, 0, 0), "X: 0  Y: 0  Wert: 1, Tr. , 0.5 (RGB)");
  Store.Image[2].ColorModel = CmYuv;
  EXPECT_EQ(PixelValueText(2, 0, 0), "X: 0  Y: 0  Wert: 1, Tr. , 0.5 (YUV)");
  // A translation file gives the word "Wert" as its section 9 [7].
  std::vector<std::string> lines;
  for (int s = 1; s <= 8; ++s) lines.push_back("[" + std::to_string(s) + "_x");
  lines.insert(lines.end(), {"[9_Messages", "[7]Value"});
  LoadLanguageFile(lines);
  EXPECT_EQ(PixelValueText(1, 0, 0), "X: 0  Y: 0  Value: 1234.57");
  UnloadLanguageFile();
}

TEST(PixelTextPanel, WidthFollowsTheTextAndColourTheZoom) {
  // max(160, w x 13 x dpi div 1056 + 16): 300 px at 96 dpi, 374400 div 1056 = 354.
  EXPECT_EQ(PixelTextPanelWidth(300, 96), 354 + 16);
  EXPECT_EQ(PixelTextPanelWidth(100, 96), 160);
  EXPECT_EQ(PixelTextPanelWidth(0, 96), 160);
  EXPECT_EQ(PixelTextPanelWidth(300, 192), 709 + 16);
  for (int zoom : {100, 200, 400}) EXPECT_TRUE(PixelTextInNormalColour(zoom)) << zoom;
  for (int zoom : {70, 50, 25, 300, 800, 17}) EXPECT_FALSE(PixelTextInNormalColour(zoom)) << zoom;
}

TEST_F(MainServicesTest, ColourModelPairing) {
  MakeImage(1, 1, 1, {{10}, {20}, {30}});
  MakeImage(2, 1, 1, {{10}, {20}, {30}});
  MakeImage(3, 1, 1, {{5}});
  RGBtoYUV(1);
  MatchColourModel(1, 2);
  EXPECT_EQ(Store.Image[2].ColorModel, CmYuv);
  MatchColourModel(1, 3);  // grey: unchanged
  EXPECT_EQ(Store.Image[3].ColorModel, CmRgb);
  EnsureRgbPair(1, 2);
  EXPECT_EQ(Store.Image[1].ColorModel, CmRgb);
  EXPECT_EQ(Store.Image[2].ColorModel, CmRgb);
  EXPECT_NEAR(Store.Image[2].Planes[3][0], 30, 1e-3);
}

TEST_F(MainServicesTest, WindowCountsAndPlaneHelpers) {
  MakeImage(1, 2, 2, {{1, 2, 3, 4}});
  MakeImage(4, 2, 2, {{1, 2, 3, 4}});
  EXPECT_EQ(CountOpenWindows(), 2);
  Store.HasWindow[1] = Store.HasWindow[4] = 1;
  EXPECT_EQ(FindOtherWindow(1), 4);
  EXPECT_EQ(FindOtherWindow(4), 1);
  Store.HasWindow[7] = 1;
  EXPECT_EQ(FindOtherWindow(1), -1);
  FillPlane(1, 1, 9);
  EXPECT_EQ(GetPixelOrZero(1, 1, 1, 1), 9);
  EXPECT_EQ(GetPixelOrZero(1, 1, 2, 0), 0);
  EXPECT_EQ(GetPixelOrZero(1, 2, 0, 0), 0);
}

TEST(CpuText, NamesExtensionsAndCores) {
  const bool mmx = HasMmx, sse = HasSse, sse2 = HasSse2;
  const int32_t count = ProcessorCount;
  HasMmx = true;
  HasSse = true;
  HasSse2 = false;
  ProcessorCount = 4;
  EXPECT_EQ(CpuFeaturesText(), "mmx sse  4cores detected");
  HasMmx = HasSse = false;
  ProcessorCount = 1;
  EXPECT_EQ(CpuFeaturesText(), " 1core detected");
  HasMmx = mmx;
  HasSse = sse;
  HasSse2 = sse2;
  ProcessorCount = count;
}

// A 4 x 2 image with distinct pixels.
std::vector<float> Ramp(int w, int h) {
  std::vector<float> v(size_t(w) * size_t(h));
  for (size_t i = 0; i < v.size(); ++i) v[i] = float(i + 1);
  return v;
}

TEST_F(MainServicesTest, RotateQuarterTurnsAreExact) {
  MakeImage(1, 4, 2, {Ramp(4, 2)});
  MakeImage(2, 4, 2, {Ramp(4, 2)});
  // Counter-clockwise on the screen: the top-right pixel goes to the top-left.
  ASSERT_TRUE(RotateImage(1, 2, 0, 90, int(TRotateFraming::FullImage)));
  const TImageSlot& r = Store.Image[2];
  ASSERT_EQ(r.Width, 2);
  ASSERT_EQ(r.Height, 4);
  // Rows of the result: 4 8 / 3 7 / 2 6 / 1 5.
  const float expected[8] = {4, 8, 3, 7, 2, 6, 1, 5};
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(r.Planes[1][size_t(i)], expected[i], 1e-4) << i;
  // Keeping the size: the parts outside the rotated image are blank.
  MakeImage(3, 4, 2, {Ramp(4, 2)});
  ASSERT_TRUE(RotateImage(1, 3, 0, 180, int(TRotateFraming::KeepSize)));
  EXPECT_NEAR(Store.Image[3].Planes[1][0], 8, 1e-4);
  EXPECT_NEAR(Store.Image[3].Planes[1][7], 1, 1e-4);
  MakeImage(4, 4, 2, {Ramp(4, 2)});
  ASSERT_TRUE(RotateImage(1, 4, 0, 90, int(TRotateFraming::KeepSize)));
  EXPECT_FALSE(IsValidPixel(Store.Image[4].Planes[1][0]));
  EXPECT_FALSE(RotateImage(1, 1, 0, 90, 0));
  EXPECT_FALSE(RotateImage(1, 9, 0, 90, 0));
}

TEST_F(MainServicesTest, RotateFramings) {
  MakeImage(1, 40, 30, {std::vector<float>(1200, 5.0f), std::vector<float>(1200, 6.0f), std::vector<float>(1200, 7.0f)});
  MakeImage(2, 40, 30, {{}, {}, {}});
  // Full image at 30 degrees: the bounding box, parity of the old sides kept.
  ASSERT_TRUE(RotateImage(1, 2, 0, 30, int(TRotateFraming::FullImage)));
  const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
  EXPECT_GE(Store.Image[2].Width, int(std::ceil(40 * c + 30 * s)));
  EXPECT_EQ(Store.Image[2].Width % 2, 0);
  EXPECT_EQ(Store.Image[2].Height % 2, 0);
  EXPECT_FALSE(IsValidPixel(Store.Image[2].Planes[2][0]));  // a corner is outside the source
  const TImageSlot& full = Store.Image[2];
  EXPECT_NEAR(full.At(3, full.Width / 2, full.Height / 2), 7.0f, 1e-4);
  // Crop: smaller, old aspect ratio, no blank pixel, every plane sampled.
  ASSERT_TRUE(RotateImage(1, 2, 0, 30, int(TRotateFraming::Crop)));
  const TImageSlot& crop = Store.Image[2];
  EXPECT_LT(crop.Width, 40);
  EXPECT_NEAR(double(crop.Width) / crop.Height, 40.0 / 30.0, 0.1);
  EXPECT_EQ((40 - crop.Width) % 2, 0);
  for (int p = 1; p <= 3; ++p)
    for (float v : crop.Planes[size_t(p)]) ASSERT_NEAR(v, 4.0f + float(p), 1e-4);
  // Crop scaled back: the source size, still no blank pixel.
  ASSERT_TRUE(RotateImage(1, 2, 0, 30, int(TRotateFraming::CropScaled)));
  EXPECT_EQ(Store.Image[2].Width, 40);
  EXPECT_EQ(Store.Image[2].Height, 30);
  for (float v : Store.Image[2].Planes[1]) ASSERT_NEAR(v, 5.0f, 1e-4);
  // No rotation and crop: the size stays.
  ASSERT_TRUE(RotateImage(1, 2, 0, 0, int(TRotateFraming::Crop)));
  EXPECT_EQ(Store.Image[2].Width, 40);
}


TEST_F(MainServicesTest, BlockDetectorFindsEightRowSteps) {
  const int w = 16, h = 64;
  std::vector<float> blocks(size_t(w) * h), smooth(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      blocks[size_t(y) * w + size_t(x)] = float((y / 8) * 20 + (x + y) % 3);
      smooth[size_t(y) * w + size_t(x)] = float((x + y) % 3);
    }
  JpegQualityRange = {1, 100};
  MakeImage(1, w, h, {blocks});
  const TBlockStatistics b = ComputeBlockStatistics(1);
  EXPECT_EQ(b.Flag, 0);  // the step lies across rows 7 | 8
  EXPECT_LT(b.Strength, 101);
  MakeImage(2, w, h, {smooth});
  JpegQualityRange = {1, 100};
  EXPECT_EQ(ComputeBlockStatistics(2).Flag, 1);
  const int last = ComputeBlockStatistics(2).Strength;
  MakeImage(3, 4, 8, {std::vector<float>(32, 1.0f)});
  EXPECT_EQ(ComputeBlockStatistics(3).Strength, last);  // too few rows: the last estimate
}

}  // namespace
}  // namespace astrelon
