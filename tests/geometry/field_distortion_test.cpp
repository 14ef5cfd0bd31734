// Field-distortion correction: the polynomial against numpy/scipy, the
// horizontal-only form, the planet and panorama models, and ".qzk" files.
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "../frequency/numpy_oracle.h"
#include "../pixelops/sampling_fixture.h"
#include "../pixelops/slot_images.h"
#include "common/text_codec.h"
#include "mid_run_commands.h"
#include "pixelops/geometry/field_distortion.h"
#include "pixelops/geometry/field_distortion_file.h"

namespace astrelon::test {
namespace {

class FieldDistortionTest : public SamplingTest {
protected:
  void Source(int w, int h, const std::function<float(int, int, int)>& f, int planes = 1) {
    MakeImage(1, w, h, f, planes);
    ASSERT_TRUE(CopyImageSlot(1, 2));
  }
  static float Smooth(int x, int y, int p) { return 0.5f + 0.3f * std::sin(0.23f * x + 0.2f * p) * std::cos(0.17f * y); }
  static TDistortionValues Page(TDistortionPage page) {
    TDistortionSettings s;
    s.Page = page;
    return *DistortionValues(s);
  }
};

TEST_F(FieldDistortionTest, DefaultsReproduceTheSource) {
  for (const int planes : {1, 3}) {
    Source(33, 21, Smooth, planes);
    ASSERT_TRUE(CorrectFieldDistortion(1, 2, Page(TDistortionPage::Pincushion)));
    for (int p = 1; p <= planes; ++p) {
      const std::vector<float> src = Plane(1, p), got = Plane(2, p);
      for (size_t i = 0; i < src.size(); ++i) ASSERT_NEAR(got[i], src[i], 1e-6) << i;
    }
  }
}

// D = 1.05 (and a polynomial with all four terms) sampled at the positions of the
// distortion formula, computed in numpy and sampled with map_coordinates.
TEST_F(FieldDistortionTest, PolynomialAgreesWithNumpyAndScipy) {
  if (!HaveNumpy()) GTEST_SKIP() << "numpy is not installed";
  Settings.InterpolationKind = IkLinear;
  const int w = 57, h = 41;
  const double terms[][6] = {{0, 0, 0, 1.05, 0.5, 0.5}, {0.02, -0.05, 0.1, 0.9, 0.4, 0.6}};
  for (const auto& t : terms) {
    Source(w, h, Smooth);
    TDistortionValues v = Page(TDistortionPage::Pincushion);
    v.A = t[0], v.B = t[1], v.C = t[2], v.D = t[3], v.CentreX = t[4], v.CentreY = t[5];
    ASSERT_TRUE(CorrectFieldDistortion(1, 2, v));
    const std::vector<float> src = Plane(1, 1), got = Plane(2, 1);
    NumpyOracle np;
    np.Put("src", std::vector<double>(src.begin(), src.end()));
    np.Put("terms", std::vector<double>(t, t + 6));
    ASSERT_TRUE(np.Run("from scipy import ndimage\n"
                       "W, H = " + std::to_string(w) + ", " + std::to_string(h) + "\n"
                       "img = np.fromfile(d + 'src.f64').reshape(H, W)\n"
                       "A, B, C, D, fx, fy = np.fromfile(d + 'terms.f64')\n"
                       "cx, cy = (W - 1) * fx, (H - 1) * fy\n"
                       "R = np.sqrt((H / 2) ** 2 + (W / 2) ** 2)\n"
                       "dy, dx = np.mgrid[0:H, 0:W].astype(float)\n"
                       "dx -= cx; dy -= cy\n"
                       "rho = np.hypot(dx, dy) / R\n"
                       "s = A * rho ** 3 + B * rho ** 2 + C * rho + D\n"
                       "xs, ys = cx + dx * s, cy + dy * s\n"
                       "ok = (xs >= 0) & (xs < W - 0.9) & (ys >= 0) & (ys < H - 0.9)\n"
                       "c = [np.clip(ys, 0, H - 1).astype(np.float32), np.clip(xs, 0, W - 1).astype(np.float32)]\n"
                       "v = ndimage.map_coordinates(img, c, order=1, mode='nearest')\n"
                       "np.where(ok, v, -1e11).tofile(d + 'ref.f64')\n"));
    const std::vector<double> ref = np.Get("ref");
    ASSERT_EQ(ref.size(), got.size());
    int blank = 0;
    for (size_t i = 0; i < ref.size(); ++i) {
      if (ref[i] < -1e9) {
        ++blank;
        ASSERT_EQ(got[i], BlankPixel) << i % w << "," << i / w;
      } else {
        ASSERT_NEAR(got[i], ref[i], 1e-4) << i % w << "," << i / w;
      }
    }
    EXPECT_EQ(blank > 0, t[3] > 1);  // the enlarged edge falls outside
  }
}

// Commands issued while the rows run (the window events that the progress loop
// lets through) leave the source and the result alone.
TEST_F(FieldDistortionTest, CommandsIssuedWhileTheRowsRunLeaveBothSlotsAlone) {
  Source(90, 60, Smooth, 3);
  TDistortionValues v = Page(TDistortionPage::Pincushion);
  v.D = 1.05;
  ASSERT_TRUE(CorrectFieldDistortion(1, 2, v));
  const SlotState source(1), result(2);
  ASSERT_TRUE(CopyImageSlot(1, 2));
  {
    GatedWorkers gate;
    MidRunCommand ui([] { TryToChangeSlots({1, 2}); });
    SetEngineUi(&ui);
    const bool done = CorrectFieldDistortion(1, 2, v);
    SetEngineUi(nullptr);
    EXPECT_TRUE(done);
    EXPECT_TRUE(ui.Issued());
  }
  EXPECT_TRUE(SlotState(1) == source);
  EXPECT_TRUE(SlotState(2) == result);
  // Once the rows are done the slots are free to change.
  RotateSlotRight90(2);
  EXPECT_EQ(Store.Image[2].Width, 60);
}

TEST_F(FieldDistortionTest, HorizontalOnlyKeepsTheRows) {
  // Every row has its own value: a row-wise correction keeps it in its row.
  Source(40, 12, [](int x, int y, int) { return float(y * 10 + (x % 2)); });
  TDistortionValues v = Page(TDistortionPage::Pincushion);
  v.HorizontalOnly = true;
  v.D = 0.8;
  v.B = 0.1;
  ASSERT_TRUE(CorrectFieldDistortion(1, 2, v));
  const std::vector<float> got = Plane(2, 1);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 40; ++x) {
      const float g = got[size_t(y * 40 + x)];
      ASSERT_TRUE(g >= y * 10 - 0.5f && g <= y * 10 + 1.5f) << x << "," << y << " " << g;
    }
}

TEST_F(FieldDistortionTest, PlanetBlanksRowsBeyondThePoles) {
  // Defaults: a = W / 2 = 20 = b; rows with |r - cy| >= 1.5708 b are blank.
  Source(40, 120, [](int, int, int) { return 1.0f; });
  TDistortionValues v = Page(TDistortionPage::Planet);
  ASSERT_TRUE(CorrectFieldDistortion(1, 2, v));
  const double cy = 59.5, b = 20;
  std::vector<float> got = Plane(2, 1);
  for (int r = 0; r < 120; ++r) {
    int valid = 0;
    for (int c = 0; c < 40; ++c) {
      const float g = got[size_t(r * 40 + c)];
      if (g > BlankLimit) {
        ++valid;
        // The limb factor of "3.0" brightens towards the edge of the disc.
        ASSERT_TRUE(g >= 1.0f && g <= 3.0f) << g;
      }
    }
    if (std::fabs(r - cy) >= 1.5708 * b)
      EXPECT_EQ(valid, 0) << r;
    else
      EXPECT_GT(valid, 0) << r;
  }
  // A large limb contrast is held at four times the sample.
  v.LimbContrast = 100;
  ASSERT_TRUE(CorrectFieldDistortion(1, 2, v));
  got = Plane(2, 1);
  float most = 0;
  for (const float g : got) most = std::max(most, g);
  EXPECT_EQ(most, 4.0f);
}

TEST_F(FieldDistortionTest, PanoramaHorizonInTheMiddleIsSymmetric) {
  const int w = 51, h = 31;
  // Largest difference between a pixel and its mirror image about the middle row.
  const auto asymmetry = [&](const std::vector<float>& g) {
    float most = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const float a = g[size_t(y * w + x)], b = g[size_t((h - 1 - y) * w + x)];
        if (a > BlankLimit && b > BlankLimit) most = std::max(most, std::fabs(a - b));
      }
    return most;
  };
  // A source symmetric about its middle row.
  Source(w, h, [&](int x, int y, int) { return float(x + 3 * std::min(y, h - 1 - y)); });
  TDistortionValues v = Page(TDistortionPage::Panorama);
  ASSERT_TRUE(CorrectFieldDistortion(1, 2, v));
  const std::vector<float> level = Plane(2, 1);
  EXPECT_LT(asymmetry(level), 1e-3f);
  // The middle pixel looks straight ahead.
  EXPECT_NEAR(level[size_t(h / 2 * w + w / 2)], float(w / 2 + 3 * (h / 2)), 1e-4);
  v.Horizon = 0.6;
  ASSERT_TRUE(CorrectFieldDistortion(1, 2, v));
  EXPECT_GT(asymmetry(Plane(2, 1)), 1.0f);
}

TEST_F(FieldDistortionTest, ThreadCountDoesNotChangeTheResult) {
  for (const TDistortionPage page : {TDistortionPage::Pincushion, TDistortionPage::Planet, TDistortionPage::Panorama}) {
    TDistortionValues v = Page(page);
    v.B = -0.2;
    v.Width = 0.8;
    std::vector<std::vector<float>> results;
    for (const bool multicore : {false, true}) {
      MulticoreGuard cores(multicore);
      Source(500, 300, Smooth, 3);
      ASSERT_TRUE(CorrectFieldDistortion(1, 2, v));
      results.push_back(Plane(2, 3));
    }
    EXPECT_EQ(results[0], results[1]);
  }
}

TEST_F(FieldDistortionTest, TextThatIsNoNumberIsNamed) {
  TDistortionSettings s;
  s.C = "1,5";
  TDistortionField bad = TDistortionField::A;
  ASSERT_TRUE(DistortionValues(s));
  EXPECT_EQ(DistortionValues(s)->C, 1.5);
  s.D = "abc";
  EXPECT_FALSE(DistortionValues(s, &bad));
  EXPECT_EQ(bad, TDistortionField::D);
  s.Page = TDistortionPage::Planet;  // D is not read on this page
  EXPECT_TRUE(DistortionValues(s));
  s.LimbContrast = "nan";
  EXPECT_FALSE(DistortionValues(s, &bad));
  EXPECT_EQ(bad, TDistortionField::LimbContrast);
}

class DistortionFileTest : public ::testing::Test {
protected:
  TempDir dir_;
};

TEST_F(DistortionFileTest, LinesChooseThePageAndItsValues) {
  struct TCase {
    std::vector<std::string> Lines;
    TDistortionSettings Want;
  };
  TDistortionSettings kissen;
  kissen.A = "0.1", kissen.B = "0.2", kissen.C = "0.3", kissen.D = "1.1", kissen.CentreX = "0.4",
  kissen.CentreY = "0.6";
  TDistortionSettings shortFile;  // the missing values take the defaults
  shortFile.A = "0.7";
  TDistortionSettings planet;
  planet.Page = TDistortionPage::Planet, planet.PlanetWidth = "0.8", planet.PlanetFactor = "0.9";
  planet.CentreX = "0.45", planet.CentreY = "0.55";
  TDistortionSettings panorama;
  panorama.Page = TDistortionPage::Panorama, panorama.PanoramaWidth = "1.2", panorama.Horizon = "0.4";
  TDistortionSettings nurH = kissen;
  nurH.HorizontalOnly = true;
  TDistortionSettings unknown;  // the page stays; its values are read
  unknown.A = "x", unknown.B = "y", unknown.C = "", unknown.D = "", unknown.CentreX = "5", unknown.CentreY = "6";
  const TCase cases[] = {
      {{"0.1", "0.2", "0.3", "1.1", "0.4", "0.6"}, kissen},
      {{"0.1", "0.2", "0.3", "1.1", "0.4", "0.6", "Kissen", "nurH"}, nurH},
      {{"0.7"}, shortFile},
      {{}, TDistortionSettings{}},
      {{"0.8", "0.9", "", "", "0.45", "0.55", "Planet"}, planet},
      {{"1.2", "1.00", "", "", "0.5", "0.5", "Panorama", "0.4"}, panorama},
      {{"x", "y", "", "", "5", "6", "Planeten", "9"}, unknown},
  };
  for (const TCase& k : cases) {
    TDistortionSettings s;
    ApplyDistortionLines(k.Lines, s);
    EXPECT_EQ(s, k.Want) << k.Lines.size();
  }
  // "Kissen" without line 8 puts the horizon back.
  TDistortionSettings s;
  s.Horizon = "0.2";
  ApplyDistortionLines({"0", "0", "0", "1", "0.5", "0.5", "Kissen"}, s);
  EXPECT_EQ(s.Horizon, "0.5");
}

TEST_F(DistortionFileTest, SaveForcesTheExtensionAndReadsBack) {
  TDistortionSettings s;
  s.Page = TDistortionPage::Planet;
  ASSERT_TRUE(WriteDistortionSettings(dir_.file("planet.txt"), s));
  ASSERT_TRUE(std::filesystem::exists(dir_.file("planet.qzk")));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("planet.txt")));
  const auto text = ReadTextFile(dir_.file("planet.qzk"));
  ASSERT_TRUE(text);
  EXPECT_EQ(SplitLines(*text), (std::vector<std::string>{"1.00", "1.00", "", "", "0.5", "0.5", "Planet", "3.0"}));
  TDistortionSettings back;
  back.HorizontalOnly = true;
  ASSERT_TRUE(ReadDistortionSettings(dir_.file("planet"), back));
  EXPECT_EQ(back.Page, TDistortionPage::Planet);
  EXPECT_TRUE(back.HorizontalOnly);  // not on this page's lines
  s.Page = TDistortionPage::Pincushion;
  s.HorizontalOnly = true;
  EXPECT_EQ(DistortionSettingsText(s), "0.00\n0.00\n0.00\n1.00\n0.5\n0.5\nKissen\nnurH\n");
  const TDistortionSettings before = back;
  EXPECT_FALSE(ReadDistortionSettings(dir_.file("missing.qzk"), back));
  EXPECT_EQ(back, before);
}

TEST_F(DistortionFileTest, BadFilesAreReadByTheSameRules) {
  const std::string huge(200000, '7');
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += char(i * 37 % 256);
  for (const std::string& content : {std::string(), binary, huge + "\n" + huge + "\n0\n1\n0.5\n0.5\nPlanet\n" + huge,
                                     std::string("1\n2\n3\n4\n5\n6\nSphere\n7\n")}) {
    WriteText(dir_.file("bad.qzk"), content);
    TDistortionSettings s;
    s.Page = TDistortionPage::Panorama;
    ASSERT_TRUE(ReadDistortionSettings(dir_.file("bad.qzk"), s));
    for (const std::string* v : {&s.A, &s.B, &s.PlanetWidth, &s.PlanetFactor, &s.LimbContrast, &s.PanoramaWidth})
      EXPECT_LE(v->size(), 1000u * 3);
  }
  // The one with the huge lines selects the planet and cuts its values.
  WriteText(dir_.file("bad.qzk"), huge + "\n" + huge + "\n0\n1\n0.5\n0.5\nPlanet\n" + huge);
  TDistortionSettings s;
  ASSERT_TRUE(ReadDistortionSettings(dir_.file("bad.qzk"), s));
  EXPECT_EQ(s.Page, TDistortionPage::Planet);
  EXPECT_EQ(s.PlanetWidth, std::string(1000, '7'));
  EXPECT_EQ(s.A, "0.00");
}

}  // namespace
}  // namespace astrelon::test
