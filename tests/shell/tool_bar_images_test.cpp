// The tool bar's image commands on the store: mirror, flip, rotation by 90
// degrees and inversion, the own display palette and the main window's texts.
#include <vector>

#include "core/language.h"
#include "core/run_state.h"
#include "core/settings.h"
#include "pixelops/pixels/invert_image.h"
#include "shell/display/user_palette.h"
#include "shell/main/main_texts.h"
#include "shell/slots/slot_orientation.h"
#include "store/display/display_bitmap.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/pictures/bmp_codec.h"
#include "store/pictures/png_writer.h"
#include "test_support.h"

namespace astrelon {
namespace {

class ToolBarImagesTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    saved_ = Settings;
    UnloadLanguageFile();
    ResetMainTexts();
    SetUserPalette({});
  }
  void TearDown() override {
    Settings = saved_;
    UseWorkerThreads = 0;
    UnloadLanguageFile();
    ResetMainTexts();
    SetUserPalette({});
    test::StoreTest::TearDown();
  }
  static void Make(int slot, int w, int h, const std::vector<std::vector<float>>& planes) {
    test::MakeImage(slot, w, h, planes);
  }
  static std::vector<float> Plane(int slot, int p) {
    const auto& v = Store.Image[slot].Planes[p];
    return {v.begin(), v.end()};
  }
  // A 24-bit picture whose pixel (x, y) is (x, y, x ^ y).
  static TDisplayBitmap Picture(int w, int h) {
    TDisplayBitmap b;
    b.Resize(w, h, TBitmapFormat::Bgr24);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t* px = b.Row(y).data() + 3 * x;
        px[0] = uint8_t(x ^ y), px[1] = uint8_t(y), px[2] = uint8_t(x);  // blue, green, red
      }
    return b;
  }
  TSettingsVars saved_;
  test::TempDir dir_;
};

TEST_F(ToolBarImagesTest, MirrorAndFlipKeepTheMiddleAndUndoThemselves) {
  const std::vector<float> grey{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};  // 5 x 3
  Make(1, 5, 3, {grey});
  MirrorSlotHorizontal(1);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{5, 4, 3, 2, 1, 10, 9, 8, 7, 6, 15, 14, 13, 12, 11}));
  MirrorSlotHorizontal(1);
  EXPECT_EQ(Plane(1, 1), grey);
  FlipSlotVertical(1);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{11, 12, 13, 14, 15, 6, 7, 8, 9, 10, 1, 2, 3, 4, 5}));
  FlipSlotVertical(1);
  EXPECT_EQ(Plane(1, 1), grey);
}

TEST_F(ToolBarImagesTest, RotationTurnsRowsIntoColumnsAndSwapsTheAxes) {
  // [a b c; d e f] becomes [d a; e b; f c]; a second turn gives the image upside down and mirrored.
  Make(1, 3, 2, {{1, 2, 3, 4, 5, 6}, {10, 20, 30, 40, 50, 60}, {-1e11f, 0, 0, 0, 0, 0}});
  RotateSlotRight90(1);
  const TImageSlot& im = Store.Image[1];
  EXPECT_EQ(im.Width, 2);
  EXPECT_EQ(im.Height, 3);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{4, 1, 5, 2, 6, 3}));
  EXPECT_EQ(Plane(1, 2), (std::vector<float>{40, 10, 50, 20, 60, 30}));
  EXPECT_EQ(Plane(1, 3)[1], -1e11f);
  EXPECT_EQ(GetHeaderValue(1, "NAXIS1", false), "2");
  EXPECT_EQ(GetHeaderValue(1, "NAXIS2", false), "3");
  RotateSlotRight90(1);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{6, 5, 4, 3, 2, 1}));
}

TEST_F(ToolBarImagesTest, LargeImagesGiveTheSameResultOnOneAndOnAllCores) {
  const int w = 1031, h = 517;
  std::vector<float> v(size_t(w) * h);
  for (size_t i = 0; i < v.size(); ++i) v[i] = float((i * 2654435761u) % 65536);
  std::vector<std::vector<float>> results;
  for (uint8_t threads : {0, 1}) {
    UseWorkerThreads = threads;
    Make(1, w, h, {v, v, v});
    MirrorSlotHorizontal(1);
    FlipSlotVertical(1);
    RotateSlotRight90(1);
    results.push_back(Plane(1, 3));
  }
  EXPECT_EQ(results[0], results[1]);
  // Mirrored, flipped and turned right: the old pixel (x, y) ends at column y, row (w - 1 - x).
  EXPECT_EQ(results[0][size_t(w - 1 - 7) * h + 3], v[size_t(3) * w + 7]);
}

TEST_F(ToolBarImagesTest, InvertMapsTheDisplayRangeOntoItselfOnTheSelectedChannels) {
  Make(1, 2, 1, {{30, -1e11f}});
  Store.Display[1].Black = 10;
  Store.Display[1].White = 110;
  SetWorkRectToImage(1);
  InvertImage(1);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{90, -1e11f}));

  // RGB with channel selection 4: red and blue only; YUV: luma inverted, chroma negated.
  Make(2, 2, 1, {{30, 40}, {30, 40}, {30, 40}});
  Store.Display[2].Black = 10;
  Store.Display[2].White = 110;
  Store.Display[2].ChannelSelection = 4;
  SetWorkRect({1, 0, 1, 0});
  InvertImage(2);
  EXPECT_EQ(Plane(2, 1), (std::vector<float>{30, 80}));
  EXPECT_EQ(Plane(2, 2), (std::vector<float>{30, 40}));
  EXPECT_EQ(Plane(2, 3), (std::vector<float>{30, 80}));
  Store.Image[2].ColorModel = CmYuv;
  Store.Display[2].ChannelSelection = 0;
  SetWorkRectToImage(2);
  InvertImage(2);
  EXPECT_EQ(Plane(2, 1), (std::vector<float>{90, 40}));
  EXPECT_EQ(Plane(2, 2), (std::vector<float>{-30, -40}));
}

TEST_F(ToolBarImagesTest, OwnPaletteComesFromA256By256PictureOnly) {
  const std::string png = dir_.file("palette.png"), bmp = dir_.file("palette.BMP");
  ASSERT_TRUE(SavePngFile(Picture(256, 256), 6, false, png));
  ASSERT_TRUE(SaveBmpFile(Picture(256, 256), bmp));
  for (const std::string& name : {png, bmp}) {
    SetUserPalette({});
    ASSERT_TRUE(LoadOwnPaletteFile(name)) << name;
    EXPECT_TRUE(UserPaletteUsable());
    EXPECT_EQ(UserPalette()[257], 0x010100u);  // row 1, column 1
    EXPECT_EQ(UserPalette()[256 * 3 + 200], (200u << 16) | (3u << 8) | (200u ^ 3u));
    EXPECT_EQ(Settings.PaletteFile, name);
    EXPECT_FALSE(Store.InUse[0]);
  }

  // Refused without a change: wrong size, truncated, garbage, another extension.
  const std::string small = dir_.file("small.png"), cut = dir_.file("cut.png"), junk = dir_.file("junk.bmp");
  ASSERT_TRUE(SavePngFile(Picture(256, 255), 6, false, small));
  std::vector<unsigned char> bytes = test::ReadAll(png);
  bytes.resize(bytes.size() / 2);
  test::WriteAll(cut, bytes);
  test::WriteText(junk, std::string("BM") + std::string(300, '\x7f'));
  test::WriteText(dir_.file("palette.gif"), "GIF89a");
  for (const std::string& name : {small, cut, junk, dir_.file("palette.gif"), dir_.file("missing.png")}) {
    EXPECT_FALSE(LoadOwnPaletteFile(name)) << name;
    EXPECT_EQ(UserPalette()[257], 0x010100u);
    EXPECT_EQ(Settings.PaletteFile, bmp);
    EXPECT_FALSE(Store.InUse[0]);
  }
  const std::vector<uint32_t> preview = OwnPalettePreview(2, 2);
  ASSERT_EQ(preview.size(), 4u);
  EXPECT_EQ(preview[0] >> 16, 63u);  // mean red of columns 0..127
  ForgetOwnPalette();
  EXPECT_FALSE(UserPaletteLoaded());
  EXPECT_EQ(Settings.PaletteFile, "");
}

TEST_F(ToolBarImagesTest, StatusLineAndTranslatedTexts) {
  EXPECT_EQ(StatusLineText(uint64_t(1234.5 * 1048576), 3), " Freier Speicher: 1234.5 MByte, 3 Bilder");
  EXPECT_EQ(StatusLineText(uint64_t(2048) * 1048576, 1), " Freier Speicher: 2048 MByte, 1 Bild");
  EXPECT_EQ(NotLoadedText("dcraw: could not be loaded"), " could not be loaded");
  EXPECT_EQ(NotLoadedText("dcraw 1.0"), "dcraw 1.0");  // 10 characters
  EXPECT_EQ(NotLoadedText(" nicht geladen."), " nicht geladen.");

  LoadLanguageFile({"[1_Menu", "[2_Toolbar", "[3_Panel", "[4_Net", "[19]channel", "[5_x", "[6_x", "[7_Colours",
                    "[21]Red", "[22]Green", "[23]Blue", "[8_x", "[9_Messages", "[18]Image", "[39]Images",
                    "[65]Error", "[67]DCRAW-Library: could not be loaded", "[10_Window", "[2]Zoom",
                    "[11_x", "[12_x", "[13_x", "[14_x", "[15_x", "[16_x", "[17_x", "[18_x", "[19_x", "[20_x",
                    "[21_x", "[22_x", "[23_x", "[24_x", "[25_x", "[26_x", "[27_x", "[28_x", "[29_x", "[30_x",
                    "[31_x", "[32_x", "[33_x", "[34_Status", "[6]Free memory:"});
  ApplyTranslatedMainTexts();
  EXPECT_EQ(MainTexts.ErrorPrefix, "Error: ");
  EXPECT_EQ(MainTexts.NotLoaded, " could not be loaded");
  EXPECT_EQ(MainTexts.ZoomPrefix, "Zoom: ");
  EXPECT_EQ(MainTexts.RgbLetters, "RGB");
  EXPECT_EQ(MainTexts.ChannelFileParts[1], "Red_channel_");
  EXPECT_EQ(MainTexts.YuvFileParts[2], "U_channel_");
  EXPECT_EQ(MainTexts.Cutout, "Ausschnitt");  // kept: its key has no text
  EXPECT_EQ(StatusLineText(uint64_t(5) * 1048576, 2), " Free memory: 5 MByte, 2 Images");
}

}  // namespace
}  // namespace astrelon
