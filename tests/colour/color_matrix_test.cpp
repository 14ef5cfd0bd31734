// Mixing colour planes by a percent matrix, ".qzf" files, expanding a grey
// image to RGB and making a colour-filter mosaic from an RGB image.
#include <cmath>
#include <limits>

#include "colour_images.h"
#include "kernels/colour/expand_mono_to_rgb.h"
#include "pixelops/colour/color_correction_file.h"
#include "pixelops/colour/color_matrix.h"
#include "pixelops/mosaic/rgb_to_bayer.h"

namespace astrelon::test {
namespace {

class ColorMatrixTest : public StoreTest {};

TColorMatrix Matrix(std::array<double, 9> percent) { return TColorMatrix{percent}; }

void ExpectRgb(const TRgb& got, const TRgb& want) {
  for (size_t c = 0; c < 3; ++c) EXPECT_CLOSE(got[c], want[c], 1e-4f) << "plane " << c + 1;
}

TEST_F(ColorMatrixTest, MixesValidPixelsAndKeepsTheDestinationAtBlanks) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<TRgb> pixels = {{10, 20, 30}, {-1e11f, 5, 6}, {1, nan, 3}, {7, 8, 9}};
  MakeColourImage(1, 2, pixels);
  MakeColourImage(2, 2, {{-1, -1, -1}, {-2, -2, -2}, {-3, -3, -3}, {-4, -4, -4}});
  // Identity leaves valid pixels exactly as they were.
  ASSERT_TRUE(ApplyColorMatrix(1, 2, TColorMatrix{}));
  EXPECT_EQ(PixelOf(2, 0), (TRgb{10, 20, 30}));
  EXPECT_EQ(PixelOf(2, 1), (TRgb{-2, -2, -2}));
  EXPECT_EQ(PixelOf(2, 2), (TRgb{-3, -3, -3}));
  // A red row of 50, 50, 0 averages red and green; rows need not sum to 100.
  ASSERT_TRUE(ApplyColorMatrix(1, 2, Matrix({50, 50, 0, 0, 100, 0, 10, 20, 200})));
  ExpectRgb(PixelOf(2, 0), {15, 20, 65});
  ExpectRgb(PixelOf(2, 3), {7.5f, 8, 20.3f});
  EXPECT_EQ(PixelOf(2, 1), (TRgb{-2, -2, -2}));
  // The source stays as it was.
  EXPECT_EQ(PixelOf(1, 0), (TRgb{10, 20, 30}));
  // A grey image or a different size is refused.
  MakeImage(3, 2, 2, {{1, 2, 3, 4}});
  EXPECT_FALSE(ApplyColorMatrix(3, 2, TColorMatrix{}));
  MakeColourImage(4, 1, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}});
  EXPECT_FALSE(ApplyColorMatrix(4, 2, TColorMatrix{}));
}

TEST_F(ColorMatrixTest, ResultsDoNotDependOnTheThreads) {
  const int w = 600, h = 500;
  const auto run = NoisyColourRun(size_t(w * h), 7);
  MakeImage(1, w, h, {run[0], run[1], run[2]});
  MakeImage(2, w, h, {run[2], run[1], run[0]});
  MakeImage(3, w, h, {run[2], run[1], run[0]});
  const TColorMatrix m = Matrix({112.5, -7, -5.5, -10, 120, -10, 3, -15, 113});
  const uint8_t old = Options.Multicore;
  Options.Multicore = 0;
  ApplyColorMatrix(1, 2, m);
  Options.Multicore = 1;
  ApplyColorMatrix(1, 3, m);
  Options.Multicore = old;
  for (int p = 1; p <= 3; ++p) {
    const auto a = PlaneValues(2, p), b = PlaneValues(3, p);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i)
      ASSERT_EQ(std::bit_cast<uint32_t>(a[i]), std::bit_cast<uint32_t>(b[i])) << "plane " << p << " pixel " << i;
  }
}

TEST_F(ColorMatrixTest, QzfFilesRoundTripAndForceTheirExtension) {
  TempDir dir;
  const TColorMatrix m = Matrix({100, 0, 0, 0, 100, 0, 0, 0, 100});
  ASSERT_TRUE(WriteColorCorrection(dir.file("x.txt"), m));
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.txt")));
  const auto bytes = ReadAll(dir.file("x.qzf"));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "100\n0\n0\n0\n100\n0\n0\n0\n100\n");
  EXPECT_EQ(ColorCorrectionFileName("/a.b/name"), "/a.b/name.qzf");

  const TColorMatrix odd = Matrix({112.5, -7.25, 0.001, 1e-7, 99, 0, 1, 2, 3});
  ASSERT_TRUE(WriteColorCorrection(dir.file("odd.qzf"), odd));
  TColorMatrix read;
  std::string message;
  ASSERT_EQ(ReadColorCorrection(dir.file("odd.qzf"), read, &message), TColorCorrectionRead::Read);
  EXPECT_EQ(read, odd);
  // A file with Windows line ends and a comma reads too.
  WriteText(dir.file("win.qzf"), "50\r\n50\r\n0\r\n0\r\n100\r\n0\r\n0\r\n0\r\n12,5\r\n");
  ASSERT_EQ(ReadColorCorrection(dir.file("win.qzf"), read, &message), TColorCorrectionRead::Read);
  EXPECT_EQ(read, Matrix({50, 50, 0, 0, 100, 0, 0, 0, 12.5}));
}

TEST_F(ColorMatrixTest, BadQzfFilesChangeNothing) {
  TempDir dir;
  const TColorMatrix before = Matrix({1, 2, 3, 4, 5, 6, 7, 8, 9});
  struct Case {
    const char* name;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"empty", ""},
      {"short", "100\n0\n0\n0\n100\n0\n0\n0\n"},
      {"word", "100\n0\n0\nabc\n100\n0\n0\n0\n100\n"},
      {"nan", "100\n0\n0\nnan\n100\n0\n0\n0\n100\n"},
      {"binary", std::string("\x00\x01\xff\xfe\x10\n\n\n\n\n\n\n\n\n", 14)},
      {"huge", std::string(100000, '1')},
  };
  for (const Case& c : cases) {
    WriteText(dir.file("bad.qzf"), c.text);
    TColorMatrix m = before;
    std::string message;
    EXPECT_EQ(ReadColorCorrection(dir.file("bad.qzf"), m, &message), TColorCorrectionRead::Refused) << c.name;
    EXPECT_FALSE(message.empty()) << c.name;
    EXPECT_EQ(m, before) << c.name;
  }
  TColorMatrix m = before;
  std::string message;
  EXPECT_EQ(ReadColorCorrection(dir.file("none.qzf"), m, &message), TColorCorrectionRead::Missing);
  EXPECT_TRUE(message.empty());
  EXPECT_EQ(m, before);
}

TEST_F(ColorMatrixTest, ExpandMonoToRgbGivesThreeEqualPlanes) {
  MakeImage(1, 2, 2, {{1, -1e11f, 3, 4}});
  ASSERT_TRUE(ExpandMonoToRgb(1));
  const TImageSlot& s = Store.Image[1];
  EXPECT_TRUE(s.IsColor);
  EXPECT_EQ(s.PlaneCount, 3);
  EXPECT_EQ(s.ColorModel, CmRgb);
  EXPECT_EQ(Store.Display[1].DisplayType, DtColorRgb);
  for (int p = 2; p <= 3; ++p) EXPECT_EQ(PlaneValues(1, p), PlaneValues(1, 1));
  EXPECT_EQ(GetHeaderValue(1, "NAXIS", false), "3");
  // A colour image is left alone.
  MakeColourImage(2, 1, {{1, 2, 3}});
  EXPECT_FALSE(ExpandMonoToRgb(2));
  EXPECT_EQ(PixelOf(2, 0), (TRgb{1, 2, 3}));
}

TEST_F(ColorMatrixTest, BayerPatternTakesRedGreenAndBlueByPosition) {
  std::vector<TRgb> pixels;
  for (int i = 0; i < 3 * 3; ++i) pixels.push_back({float(100 + i), float(200 + i), float(300 + i)});
  MakeColourImage(1, 3, pixels);
  ASSERT_TRUE(MakeBayerPattern(1, 2));
  const TImageSlot& d = Store.Image[2];
  EXPECT_EQ(d.PlaneCount, 1);
  EXPECT_FALSE(d.IsColor);
  EXPECT_EQ(Store.Display[2].DisplayType, DtGrey);
  EXPECT_EQ(PlaneValues(2, 1), (std::vector<float>{100, 201, 102, 203, 304, 205, 106, 207, 108}));
  MakeImage(3, 2, 2, {{1, 2, 3, 4}});
  EXPECT_FALSE(MakeBayerPattern(3, 4));
  EXPECT_FALSE(Store.InUse[4]);
}

}  // namespace
}  // namespace astrelon::test
