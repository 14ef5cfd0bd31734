// Frequency-response curve files: the text, refused files, resampling, and
// applying a file to an image through its 2D spectrum.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/text_codec.h"
#include "core/settings.h"
#include "frequency/filter/curve_file_filter.h"
#include "frequency/filter/frequency_curve_file.h"
#include "frequency/filter/frequency_filter.h"
#include "spectrum_fixture.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {
namespace {

using test::MakeImage;

class CurveFiles : public test::StoreTest {};

TEST_F(CurveFiles, TextIsCountThenGainsWithPointsAndCommas) {
  EXPECT_EQ(FormatFrequencyCurveFile(std::vector<double>{1.0, 0.25}), "2\r\n1\r\n0.25\r\n");
  std::string error;
  const auto file = ParseFrequencyCurveFile("3\n 1,5 \n\n2.0E-1\n7\n", &error);
  ASSERT_TRUE(file) << error;
  EXPECT_EQ(file->Gains, (std::vector<double>{1.5, 0.2, 7.0}));
  const auto one = ParseFrequencyCurveFile("1\r\n0.5");
  ASSERT_TRUE(one);
  EXPECT_EQ(one->Gains, std::vector<double>{0.5});
}

TEST_F(CurveFiles, MalformedTextIsRefusedWithAReason) {
  const std::string binary("\x01\xff\x00\x7f\x80", 5);
  for (const std::string& text : std::vector<std::string>{"", "0\n", "-5\n1\n", "1000000000000\n1\n", "1000001\n1\n", "abc\n1\n", "2.5\n1\n2\n",
                                 "3\n1\n2\n", "2\n1\nzwei\n", "2\n1\nnan\n", "2\n1\n-1e10\n", binary}) {
    std::string error;
    EXPECT_FALSE(ParseFrequencyCurveFile(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST_F(CurveFiles, MissingRefusedAndWrittenFiles) {
  test::TempDir dir;
  TFrequencyCurveFile file;
  std::string error;
  EXPECT_EQ(ReadFrequencyCurveFile(dir.file("fehlt.qfg"), file, &error), TCurveFileRead::Missing);
  EXPECT_TRUE(error.empty());
  test::WriteText(dir.file("kurz.qfg"), "4\n1\n2\n");
  EXPECT_EQ(ReadFrequencyCurveFile(dir.file("kurz.qfg"), file, &error), TCurveFileRead::Refused);
  EXPECT_NE(error.find("kurz.qfg"), std::string::npos);
  EXPECT_TRUE(file.Gains.empty());
  // The extension becomes ".qfg"; the file reads back.
  ASSERT_TRUE(WriteFrequencyCurveFile(dir.file("kurve.txt"), std::vector<double>{2.0, 0.125, 1e-30}));
  ASSERT_EQ(ReadFrequencyCurveFile(dir.file("kurve.qfg"), file), TCurveFileRead::Read);
  EXPECT_EQ(file.Gains, (std::vector<double>{2.0, 0.125, 1e-30}));
}

TEST_F(CurveFiles, TwoGainsResampleSmoothlyBetweenTheirValues) {
  for (int kind = 0; kind < KernelKindCount; ++kind) {
    const std::vector<double> g = ResampleCurveGains(std::vector<double>{1.0, 0.5}, 33, kind);
    ASSERT_EQ(g.size(), 33u);
    EXPECT_NEAR(g.front(), 1.0, 1e-6) << kind;
    EXPECT_NEAR(g.back(), 0.5, 1e-6) << kind;
    for (size_t i = 1; i < g.size(); ++i) EXPECT_LE(g[i], g[i - 1] + 1e-9) << kind << " bin " << i;
    EXPECT_NEAR(g[16], 0.75, 0.05) << kind;
  }
  // One bin takes the first gain; one gain is a constant.
  EXPECT_NEAR(ResampleCurveGains(std::vector<double>{0.3, 0.9}, 1, 2).at(0), 0.3, 1e-12);
  for (double g : ResampleCurveGains(std::vector<double>{0.3}, 4, 2)) EXPECT_NEAR(g, 0.3, 1e-12);
}

// Saving without an edit writes K gains of 1; applying an all-ones file keeps
// the image except the two edge rows and columns that the inner margin blends.
TEST_F(CurveFiles, UneditedCurveSavesOnesThatLeaveTheImage) {
  MakeImage(1, 41, 30, 1, test::Sky);
  TFrequencyFilter filter;
  ASSERT_TRUE(filter.ComputeFilterSpectrum(1, SelectedChannels(1), false));
  const std::vector<double> gains = CurveFileGains(filter.Curves);
  ASSERT_EQ(int32_t(gains.size()), filter.Curves.K());
  for (double g : gains) ASSERT_NEAR(g, 1.0, 1e-6);
  filter.CloseSpectrum();

  test::TempDir dir;
  ASSERT_TRUE(WriteFrequencyCurveFile(dir.file("eins.qfg"), gains));
  const auto text = ReadTextFile(dir.file("eins.qfg"));
  ASSERT_TRUE(text);
  EXPECT_EQ(SplitLines(*text).front(), std::to_string(gains.size()));

  const std::vector<float> before = test::PlaneOf(1, 1);
  ASSERT_TRUE(ApplyFrequencyCurveFile(1, dir.file("eins.qfg")));
  EXPECT_EQ(FindFreeSlot(), 2);  // the spectrum is gone
  for (int y = 2; y < 28; ++y)
    for (int x = 2; x < 39; ++x) ASSERT_NEAR(Store.Image[1].At(1, x, y), before[size_t(y * 41 + x)], 1e-5 * 130) << x << "," << y;
}

TEST_F(CurveFiles, MissingOrRefusedFilesChangeNothing) {
  MakeImage(1, 20, 20, 3, test::Sky);
  const std::vector<float> before = test::PlaneOf(1, 2);
  test::TempDir dir;
  test::WriteText(dir.file("leer.qfg"), "");
  std::string error;
  EXPECT_FALSE(ApplyFrequencyCurveFile(1, dir.file("fehlt.qfg"), &error));
  EXPECT_TRUE(error.empty());
  EXPECT_FALSE(ApplyFrequencyCurveFile(1, dir.file("leer.qfg"), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(test::PlaneOf(1, 2), before);
  EXPECT_EQ(FindFreeSlot(), 2);
}

// A 2-point file 1.0 / 0.5 on a spectrum of ones: gain 1 at radius 0, 0.5 at the
// outer ring, falling in between; the imaginary parts alike.
TEST_F(CurveFiles, TwoPointFileFallsFromCentreToOuterRing) {
  MakeImage(1, 66, 64, 1, [](int, int, int) { return 1.0f; });
  test::TempDir dir;
  test::WriteText(dir.file("tief.qfg"), "2\n1.0\n0.5\n");
  ASSERT_TRUE(MultiplyFftByCurveFile(1, dir.file("tief.qfg")));
  const TImageSlot& sp = Store.Image[1];
  EXPECT_NEAR(sp.At(1, 0, 32), 1.0f, 1e-6);
  EXPECT_NEAR(sp.At(1, 32, 32), 0.5f, 1e-6);
  EXPECT_NEAR(sp.At(1, 33 + 32, 32), 0.5f, 1e-6);
  EXPECT_NEAR(sp.At(1, 32, 0), 0.5f, 1e-6);  // beyond the outer ring: the last gain
  for (int x = 1; x <= 32; ++x) EXPECT_LE(sp.At(1, x, 32), sp.At(1, x - 1, 32) + 1e-7f) << x;
}

}  // namespace
}  // namespace astrelon
