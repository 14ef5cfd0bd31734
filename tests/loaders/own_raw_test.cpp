// Own RAW layouts: definition files, loading headered raw pixel files, and
// ImageMagick's raw grey data against its PGM.
#include "store/raw/own_raw.h"

#include <fstream>

#include "core/settings.h"
#include "loader_fixture.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

class OwnRawTest : public LoaderTest {
protected:
  void SetUp() override {
    LoaderTest::SetUp();
    saved_ = RawFormatDefs;
    savedList_ = OwnRawExtensionList;
    savedOptions_ = Options;
  }
  void TearDown() override {
    RawFormatDefs = saved_;
    OwnRawExtensionList = savedList_;
    Options = savedOptions_;
    MosaicConversion = {};
    LoaderTest::TearDown();
  }
  // Layout 1: ".raw", 512 header bytes, 4 x 2 pixels of 16 bits.
  TRawFormatDef& Layout(bool intel, int bits = 16) {
    TRawFormatDef& d = RawFormatDefs[1];
    d = {};
    d.InUse = 1;
    d.Extension = ".raw";
    d.HeaderOffset = 512;
    d.Width = 4;
    d.Height = 2;
    d.Bits = bits;
    d.IntelOrder = intel ? 1 : 0;
    BuildOwnRawExtensionList();
    return d;
  }
  // A file of `size` bytes whose pixel data starts with `first`.
  std::string File(size_t size, std::vector<unsigned char> first, const std::string& name = "a.raw") {
    std::vector<unsigned char> bytes(size, 0x11);
    std::copy(first.begin(), first.end(), bytes.begin() + 512);
    const std::string f = dir.file(name);
    WriteAll(f, bytes);
    return f;
  }
  ConfigHome home_;
  std::array<TRawFormatDef, RawFormatCount + 1> saved_;
  std::string savedList_;
  TProgramOptions savedOptions_;
};

TEST_F(OwnRawTest, SamplesInBothByteOrdersAndFilesTooShort) {
  struct TCase {
    bool Intel;
    int Bits;
    std::vector<unsigned char> First;
    float Expected;
  };
  for (const TCase& c : {TCase{false, 16, {0x34, 0x12}, 4660.0f}, TCase{true, 16, {0x34, 0x12}, 13330.0f},
                         TCase{false, 16, {0xFF, 0xFF}, 65535.0f}, TCase{true, 8, {0xC8}, 200.0f}}) {
    SCOPED_TRACE(c.Expected);
    Layout(c.Intel, c.Bits);
    const size_t need = c.Bits == 8 ? 520 : 528;
    ASSERT_TRUE(LoadOwnRawFile(3, File(need, c.First), false));
    EXPECT_EQ(Store.InUse[3], 1);
    EXPECT_EQ(Store.Image[3].Width, 4);
    EXPECT_EQ(Store.Image[3].Height, 2);
    EXPECT_EQ(Store.Image[3].PlaneCount, 1);
    EXPECT_EQ(Px(3, 1, 0, 0), c.Expected);
    EXPECT_EQ(Px(3, 1, 3, 1), c.Bits == 8 ? 17.0f : 0x1111);
    EXPECT_EQ(Store.Display[3].White, c.Bits == 8 ? 255.0f : 65535.0f);
    Store.Reset();
    // One byte short: not read, the slot stays free, no message.
    EXPECT_FALSE(LoadOwnRawFile(3, File(need - 1, c.First), false));
    EXPECT_EQ(Store.InUse[3], 0);
    EXPECT_TRUE(ui.Messages.empty());
  }
  // Another extension, or none, matches no layout.
  EXPECT_FALSE(LoadOwnRawFile(3, File(528, {}, "a.dat"), false));
  EXPECT_FALSE(LoadOwnRawFile(3, File(528, {}, "noext"), false));
}

TEST_F(OwnRawTest, TheLoaderTriesOwnLayoutsFirst) {
  Layout(false);
  const std::string f = File(528, {0x34, 0x12}, "b.RAW");
  ASSERT_TRUE(LoadImageFile(1, f));
  EXPECT_EQ(Px(1, 1, 0, 0), 4660.0f);
  EXPECT_EQ(Store.FileName[1], f);
  EXPECT_EQ(Card(1, "NAXIS1"), PadCard("NAXIS1  =                    4"));
  // A file too short for the layout goes on to the camera RAW decoder, which refuses it.
  EXPECT_FALSE(LoadImageFile(2, File(527, {}, "c.raw")));
  EXPECT_EQ(Store.InUse[2], 0);
}

TEST_F(OwnRawTest, DefinitionFiles) {
  TRawFormatDef& d = Layout(true);
  ASSERT_TRUE(RawFormatSpeichern(1));
  const std::vector<unsigned char> written = ReadAll(RawDefinitionFileName(1));
  EXPECT_EQ(std::string(written.begin(), written.end()),
            ".raw\r\n512\r\n4\r\n2\r\n16\r\nIntel\r\nVerwenden\r\nKeine Farbinterpolation\r\n");
  d.ColorInterpolation = 1;
  d.Pattern = "/x/bayer.qcm";
  ASSERT_TRUE(RawFormatSpeichern(1));
  RawFormatDefs[1] = {};
  ReadRawDefinition(1, RawDefinitionFileName(1));
  EXPECT_EQ(RawFormatDefs[1].Pattern, "/x/bayer.qcm");
  EXPECT_EQ(RawFormatDefs[1].IntelOrder, 1);
  EXPECT_EQ(RawFormatDefs[1].HeaderOffset, 512);

  // Case and spelling count: "intel" is "Win", "verwenden" is not in use.
  const std::string f = dir.file("def.ini");
  WriteText(f, ".Dat\n0\n10\n20\n8\nintel\nverwenden\nKeine Farbinterpolation\n");
  ReadRawDefinition(2, f);
  EXPECT_EQ(RawFormatDefs[2].IntelOrder, 0);
  EXPECT_EQ(RawFormatDefs[2].InUse, 0);
  EXPECT_EQ(RawFormatDefs[2].Bits, 8);
  EXPECT_TRUE(RawLayoutValid(RawFormatDefs[2]));

  // Numbers no picture can have leave the layout cleared and inactive.
  for (const char* bad : {".x\nzwölf\n10\n20\n8\nWin\nVerwenden\n", ".x\n-1\n10\n20\n8\nWin\nVerwenden\n",
                          ".x\n0\n0\n20\n8\nWin\nVerwenden\n", ".x\n0\n20000\n20001\n16\nWin\nVerwenden\n",
                          ".x\n0\n99999999999\n1\n16\nWin\nVerwenden\n", ".x\n0\n10\n"}) {
    WriteText(f, bad);
    ReadRawDefinition(2, f);
    EXPECT_EQ(RawFormatDefs[2].InUse, 0) << bad;
    EXPECT_EQ(RawFormatDefs[2].Extension, "") << bad;
  }
}

TEST_F(OwnRawTest, DefinitionsAtStartUpBuildTheExtensionList) {
  Layout(false);
  ASSERT_TRUE(RawFormatSpeichern(1));
  TRawFormatDef& d = RawFormatDefs[3];
  d = RawFormatDefs[1];
  d.Extension = ".dat";
  ASSERT_TRUE(RawFormatSpeichern(3));
  RawFormatDefs[4] = d;
  RawFormatDefs[4].Extension = ".off";
  RawFormatDefs[4].InUse = 0;
  ASSERT_TRUE(RawFormatSpeichern(4));
  RawFormatDefs = {};
  OwnRawExtensionList.clear();
  LoadRawDefinitions();
  EXPECT_EQ(OwnRawExtensionList, ".RAW.DAT");
  EXPECT_EQ(RawFormatDefs[4].Extension, ".off");
  EXPECT_EQ(RawFormatDefs[2].Extension, "");
}

TEST_F(OwnRawTest, ImageMagicksRawGreyDataEqualsItsPgm) {
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
  const std::string pgm = dir.file("ref.pgm");
  ASSERT_TRUE(Shell("convert -size 23x17 -seed 4 plasma:fractal -colorspace gray -depth 16 " + pgm));
  ASSERT_TRUE(LoadImageFile(1, pgm));
  for (const bool intel : {true, false}) {
    SCOPED_TRACE(intel);
    const std::string data = dir.file("grey.data");
    ASSERT_TRUE(Shell(std::string("convert ") + pgm + " -depth 16 -endian " + (intel ? "MSB" : "LSB") + " gray:" + data));
    std::vector<unsigned char> bytes(512, 0xAB);
    const std::vector<unsigned char> pixels = ReadAll(data);
    ASSERT_EQ(pixels.size(), size_t(23 * 17 * 2));
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    const std::string raw = dir.file("grey.raw");
    WriteAll(raw, bytes);
    TRawFormatDef& d = Layout(intel);
    d.Width = 23;
    d.Height = 17;
    ASSERT_TRUE(LoadOwnRawFile(2, raw, false));
    EXPECT_EQ(std::vector<float>(Store.Image[2].Planes[1].begin(), Store.Image[2].Planes[1].end()),
              std::vector<float>(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end()));
  }
}

TEST_F(OwnRawTest, AColourMosaicIsConvertedWhenAsked) {
  TRawFormatDef& d = Layout(false);
  d.ColorInterpolation = 1;
  d.Pattern = "muster.qcm";
  const std::string f = File(528, {0x34, 0x12});
  // Without the conversion installed the mosaic stays.
  Options.RawInterpolation = 1;
  ASSERT_TRUE(LoadOwnRawFile(1, f, true));
  EXPECT_EQ(Store.Image[1].PlaneCount, 1);

  int method = 4;
  std::vector<int> methodsUsed;
  MosaicConversion.ReadMosaicSettings = [](const std::string& name) { return name == "muster.qcm"; };
  MosaicConversion.Method = [&] { return method; };
  MosaicConversion.SetMethod = [&](int m) { method = m; };
  MosaicConversion.GenerateRgbFromMosaic = [&](int slot) {
    methodsUsed.push_back(method);
    const int r = FindFreeSlot();
    CopyImageSlot(slot, r);
    Store.Image[r].AllocatePlanes(3);
    Store.Image[r].IsColor = 1;
    Store.Image[r].PlaneCount = 3;
    return r;
  };
  Store.Reset();
  Store.FileName[1] = f;
  ASSERT_TRUE(LoadOwnRawFile(1, f, true));
  ASSERT_TRUE(LoadOwnRawFile(5, f, false));
  EXPECT_EQ(methodsUsed, (std::vector<int>{QuickPreviewMosaicMethod, 4}));
  EXPECT_EQ(method, 4);
  EXPECT_EQ(Store.Image[1].PlaneCount, 3);
  EXPECT_EQ(Store.FileName[1], f);
  // The result slots were freed again.
  int inUse = 0;
  for (int s = 1; s <= MaxImageSlots; ++s) inUse += Store.InUse[s];
  EXPECT_EQ(inUse, 2);
}

}  // namespace
}  // namespace astrelon::test
