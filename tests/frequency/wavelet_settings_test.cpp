// Wavelet settings files: the eleven-line layout, the quality line, refused
// files, and the batch's filter run from a file.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frequency/wavelet/wavelet_apply.h"
#include "frequency/wavelet/wavelet_noise_filter.h"
#include "frequency/wavelet/wavelet_pyramid.h"
#include "frequency/wavelet/wavelet_settings.h"
#include "spectrum_fixture.h"

namespace astrelon {
namespace {

class WaveletSettingsFile : public test::StoreTest {
protected:
  void TearDown() override {
    FreePyramid(0);
    AbortRequested = 0;
    test::StoreTest::TearDown();
  }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string file = dir_.file(name);
    test::WriteText(file, text);
    return file;
  }
  test::TempDir dir_;
};

TEST_F(WaveletSettingsFile, ElevenLinesWrittenAndReadBack) {
  TWaveletSettings s;
  s.Hardness = 3;
  s.Strength = "1.21";
  s.Thresholds = {"0.25", "1.00", "2.25", "4.00"};
  s.Gains = {"1.56", "0.00", "1.00", "0.56"};
  s.Better = true;
  EXPECT_EQ(FormatWaveletSettings(s),
            "3\r\n1.21\r\n0.25\r\n1.00\r\n2.25\r\n4.00\r\n1.56\r\n0.00\r\n1.00\r\n0.56\r\nhighqual\r\n");
  const std::string file = dir_.file("a.wvl");
  ASSERT_TRUE(WriteWaveletSettings(file, s));
  TWaveletSettings back;
  ASSERT_EQ(ReadWaveletSettings(file, back), TWaveletFileRead::Read);
  EXPECT_EQ(back.Hardness, 3);
  EXPECT_EQ(back.Strength, "1.21");
  EXPECT_EQ(back.Thresholds, s.Thresholds);
  EXPECT_EQ(back.Gains, s.Gains);
  EXPECT_TRUE(back.Better);
}

TEST_F(WaveletSettingsFile, QualityLineSetsBetterOnlyWhenItSaysHighqual) {
  const std::string ten = "0\n1\n1\n1\n1\n1\n2\n2\n2\n2\n";
  struct Case {
    std::string tail;
    bool better;
  };
  for (const Case& c : {Case{"", false}, Case{"loqual\n", false}, Case{"HIGHQUAL\n", false}, Case{"anders\n", false},
                        Case{"highqual\n", true}}) {
    TWaveletSettings s;
    s.Better = !c.better;
    ASSERT_EQ(ReadWaveletSettings(Write("q.wvl", ten + c.tail), s), TWaveletFileRead::Read) << c.tail;
    EXPECT_EQ(s.Better, c.better) << c.tail;
    EXPECT_EQ(s.Hardness, 0);
    EXPECT_EQ(s.Gains[3], "2");
  }
}

TEST_F(WaveletSettingsFile, MalformedFilesAreRefusedAndChangeNothing) {
  const std::string binary("\x01\xff\x00\x7f\x80\n\n\n\n\n\n\n\n\n\n", 15);
  const std::vector<std::string> bad{"",
                                     "1\n1\n1\n1\n1\n1\n1\n1\n1\n",            // nine lines
                                     "7\n1\n1\n1\n1\n1\n1\n1\n1\n1\n",         // hardness beyond 3
                                     "-1\n1\n1\n1\n1\n1\n1\n1\n1\n1\n",        // or below 0
                                     "x\n1\n1\n1\n1\n1\n1\n1\n1\n1\n",         // not a number
                                     "1.5\n1\n1\n1\n1\n1\n1\n1\n1\n1\n",       // not whole
                                     "1\n1\n1\nabc\n1\n1\n1\n1\n1\n1\n",       // a threshold that is no number
                                     "1\n1\n1\n1\n1\n1\n1\n1\n1\nnan\n",       // nor a gain
                                     binary};
  for (const std::string& text : bad) {
    TWaveletSettings s;
    s.Strength = "unverändert";
    std::string error;
    EXPECT_EQ(ReadWaveletSettings(Write("b.wvl", text), s, &error), TWaveletFileRead::Refused) << text;
    EXPECT_NE(error.find("b.wvl"), std::string::npos) << text;
    EXPECT_EQ(s.Strength, "unverändert");
  }
  TWaveletSettings s;
  EXPECT_EQ(ReadWaveletSettings(dir_.file("fehlt.wvl"), s), TWaveletFileRead::Missing);
  // A comma is read as a decimal point.
  ASSERT_EQ(ReadWaveletSettings(Write("k.wvl", "2\n1,5\n1\n1\n1\n1\n1\n1\n1\n1\n"), s), TWaveletFileRead::Read);
  TWaveletNumbers n;
  ASSERT_TRUE(WaveletNumbers(s, n));
  EXPECT_DOUBLE_EQ(n.Thresholds[0], 1.5);
}

TEST_F(WaveletSettingsFile, BatchRunFiltersTheWholeImageAsTheFileSays) {
  // thresholds[l] = line (3 + l) x line 2, gains from lines 7..10 and a fifth 1.0.
  const std::string file = Write("batch.wvl", "2\n1.5\n1\n0.5\n2\n0\n1.2\n0.8\n1\n0\nloqual\n");
  test::MakeImage(1, 48, 40, 1, test::Sky);
  test::MakeImage(2, 48, 40, 1, test::Sky);
  test::MakeImage(3, 48, 40, 1, test::Sky);
  ASSERT_EQ(ApplyWaveletFilter(1, 2, file), TWaveletRun::Done);
  // The same steps by hand.
  const TRectI whole{0, 0, 47, 39};
  ASSERT_TRUE(BuildPyramid(1, 0, 4, whole));
  TWaveletFilterOptions o;
  o.Hardness = 2;
  o.Thresholds = {1.5, 0.75, 3.0, 0.0};
  ASSERT_TRUE(PyramidNoiseFilter(1, 0, 1, o, 3, whole));
  CollapsePyramid(0, 3, 1, 4, std::array<float, 5>{1.2f, 0.8f, 1, 0, 1}, whole);
  EXPECT_EQ(test::PlaneValues(2, 1), test::PlaneValues(3, 1));
  EXPECT_NE(test::PlaneValues(2, 1), test::PlaneValues(1, 1));

  // A missing file leaves the destination; a refused one says why.
  const std::vector<float> before = test::PlaneValues(2, 1);
  EXPECT_EQ(ApplyWaveletFilter(1, 2, dir_.file("fehlt.wvl")), TWaveletRun::Missing);
  std::string error;
  EXPECT_EQ(ApplyWaveletFilter(1, 2, Write("x.wvl", "x\n1\n1\n1\n1\n1\n1\n1\n1\n1\n"), &error), TWaveletRun::Refused);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(test::PlaneValues(2, 1), before);
}

}  // namespace
}  // namespace astrelon
