// A plane's percentile level measured from the FITS file itself equals the
// level of the same plane after LoadFits, for every sample format, with
// scaling, blank values, planes the file lacks and one or many workers.
#include "store/fits/fits_plane_level.h"

#include <cmath>
#include <limits>
#include <random>

#include "core/settings.h"
#include "fits_test_util.h"
#include "platform/processor_features.h"
#include "platform/worker_pool.h"
#include "store/fits/fits_reader.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "test_support.h"

namespace astrelon {
namespace {

using test::ImageCards;
using test::ValueCard;

class FitsPlaneLevelTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    DetectCpuFeatures();
    ApplySimdSetting();
  }
  // Level of plane p at pct after loading the file, and from the file on 1 and 8 workers.
  void ExpectSameLevels(const std::string& file, int planes) {
    ASSERT_TRUE(LoadFits(1, file, false));
    TFitsFile f;
    ASSERT_TRUE(OpenFitsFile(file, f));
    ASSERT_TRUE(f.Layout);
    for (int p = 1; p <= planes; ++p)
      for (double pct : {30.0, 70.0, 0.5}) {
        // The loaded plane's level on the vector path (order statistics) and the scalar one (histogram).
        TPercentileLevels lv, scalar;
        GetPercentileLevels(1, p, 0, Store.Image[1].Width - 1, 0, Store.Image[1].Height - 1, pct, pct, lv);
        Sse2Enabled = false;
        GetPercentileLevels(1, p, 0, Store.Image[1].Width - 1, 0, Store.Image[1].Height - 1, pct, pct, scalar);
        ApplySimdSetting();
        EXPECT_EQ(lv.LevelA, scalar.LevelA);
        for (int threads : {1, 8}) {
          TWorkerPool pool(threads);
          std::vector<float> scratch;
          const std::optional<float> level = FitsPlaneLevel(f, p, pct, pool, scratch);
          ASSERT_TRUE(level);
          EXPECT_EQ(*level, float(lv.LevelA)) << file << " plane " << p << " at " << pct << "%";
        }
      }
    FreeSlot(1);
  }
  std::string Write(const std::vector<std::string>& cards, const std::vector<uint8_t>& data, const std::string& name) {
    const std::string file = dir_.file(name);
    test::WriteAll(file, test::FitsFile(cards, data));
    return file;
  }
  test::TempDir dir_;
  test::TRecordingUi ui_;
};

TEST_F(FitsPlaneLevelTest, EveryFormatGivesTheLevelOfTheLoadedPlane) {
  constexpr int W = 311, H = 257;  // enough pixels for the vector path of the levels
  std::mt19937 rng(4);
  std::normal_distribution<double> noise(0, 30);
  auto value = [&](int x, int y) { return 1000 + 2 * x + y + noise(rng) + (rng() % 97 == 0 ? 20000 : 0); };
  for (int flip : {0, 1}) {
    Options.FitsFlip = uint8_t(flip);
    std::vector<uint8_t> b8, b16, b32, f32, f64;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const double v = value(x, y);
        b8.push_back(uint8_t(std::clamp(v / 100, 0.0, 255.0)));
        test::PutBe16(b16, int16_t(std::clamp(v - 32768 + (x == y ? -30000 : 0), -32768.0, 32767.0)));
        test::PutBe32(b32, int32_t(v * 1000));
        test::PutBeFloat(f32, x == 3 * y ? std::numeric_limits<float>::quiet_NaN() : float(v) / 7);
        test::PutBeDouble(f64, y == 5 ? -2e11 : v * 1e-3);
      }
    auto cards = [&](int bitpix, std::vector<std::string> extra) {
      std::vector<std::string> c = ImageCards(bitpix, W, H);
      c.insert(c.end(), extra.begin(), extra.end());
      return c;
    };
    ExpectSameLevels(Write(cards(8, {}), b8, "b8.fit"), 1);
    ExpectSameLevels(Write(cards(16, {ValueCard("BZERO", "32768"), ValueCard("BSCALE", "1")}), b16, "b16.fit"), 1);
    // A BLANK code and a scale: blank pixels take no part.
    ExpectSameLevels(
        Write(cards(16, {ValueCard("BZERO", "100.5"), ValueCard("BSCALE", "0.25"), ValueCard("BLANK", "-31768")}), b16,
              "b16blank.fit"),
        1);
    ExpectSameLevels(Write(cards(32, {}), b32, "b32.fit"), 1);
    ExpectSameLevels(Write(cards(-32, {}), f32, "f32.fit"), 1);
    ExpectSameLevels(Write(cards(-64, {}), f64, "f64.fit"), 1);
  }
}

TEST_F(FitsPlaneLevelTest, ColourFilesAndPlanesTheFileLacks) {
  constexpr int W = 64, H = 48;
  std::vector<uint8_t> two;
  for (int p = 0; p < 2; ++p)
    for (int i = 0; i < W * H; ++i) test::PutBe16(two, int16_t(i % 1000 + 300 * p));
  std::vector<std::string> cards = ImageCards(16, W, H, 3);
  for (std::string& c : cards)
    if (c.rfind("NAXIS3", 0) == 0) c = ValueCard("NAXIS3", "2");
  ExpectSameLevels(Write(cards, two, "two.fit"), 3);
  TFitsFile f;
  ASSERT_TRUE(OpenFitsFile(dir_.file("two.fit"), f));
  TWorkerPool pool(2);
  std::vector<float> scratch;
  EXPECT_EQ(FitsPlaneLevel(f, 3, 30, pool, scratch), 0.0f);
}

}  // namespace
}  // namespace astrelon
