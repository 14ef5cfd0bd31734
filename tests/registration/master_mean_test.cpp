// The master's plain mean read row by row straight from FITS files gives the
// bits, frame count, messages, temperatures and dark noise of the mean of
// frames loaded into slots, on one thread and on all; its row sums' vector
// paths equal their scalar twin.
#include <cmath>
#include <random>

#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "platform/processor_features.h"
#include "registration/stacking/frame_shape.h"
#include "registration/stacking/master_frame_state.h"
#include "registration/stacking/master_frames.h"
#include "registration/stacking/mean_sums.h"
#include "store/fits/fits_writer.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr int Target = 7;

// What a mean leaves behind.
struct TMeanOutcome {
  int Used = 0;
  std::vector<uint32_t> Bits;
  std::vector<std::string> Cards, Messages;
  double TemperatureSum = 0, Noise = 0;
  int32_t TemperatureCount = 0;
  bool operator==(const TMeanOutcome&) const = default;
};

class MasterMeanTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    SetEngineUi(&ui_);
    BatchAbort = 0;
    saved_ = Options;
    sse2_ = Sse2Enabled;
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    MeanFitsRows = true;
    Sse2Enabled = sse2_;
    Options = saved_;
    StoreTest::TearDown();
  }
  // A w x h frame (planes 1 or 3) of dark-like values with hot pixels, blank
  // pixels and a pixel at -6e8 whose sum over three frames is no longer valid.
  std::string Frame(int i, int w, int h, int planes, int bitpix, unsigned seed) {
    std::mt19937 rng(seed * 100 + unsigned(i));
    std::normal_distribution<float> noise(0, 12);
    std::uniform_int_distribution<int> pick(0, 30);
    std::vector<std::vector<float>> v(size_t(planes), std::vector<float>(size_t(w * h)));
    for (int p = 0; p < planes; ++p)
      for (size_t k = 0; k < v[size_t(p)].size(); ++k) {
        const int r = pick(rng);
        float value = std::round(300 + 20 * p + 2 * float(i) + noise(rng)) + (bitpix == -32 ? 0.25f : 0.0f);
        if (r == 0) value += 20000;
        if (r == 1) value = BlankPixel;
        v[size_t(p)][k] = value;
      }
    if (bitpix == -32) v[0][3] = -6e8f;
    const std::string path = dir_.file("f" + std::to_string(seed) + "_" + std::to_string(i) + ".fit");
    MakeImage(40, w, h, v);
    SetHeaderKeyword(40, "CCD-TEMP", "", -10 - 0.5 * i, true, false, false);
    EXPECT_TRUE(SaveFits(40, bitpix, path, false, false));
    FreeSlot(40);
    return path;
  }
  // Rows read from the files take the vector paths, loaded frames the scalar ones.
  TMeanOutcome Mean(const std::vector<std::string>& files, int flatDark, bool rows, bool multicore) {
    MeanFitsRows = rows;
    Sse2Enabled = rows;
    Options.Multicore = multicore;
    ui_.Messages.clear();
    CcdTemperatureSum = 0;
    CcdTemperatureCount = 0;
    TMeanOutcome r;
    r.Used = MeanOfFrames(Target, files, flatDark, true, &r.Noise);
    r.Messages = ui_.Messages;
    r.TemperatureSum = CcdTemperatureSum;
    r.TemperatureCount = CcdTemperatureCount;
    if (r.Used > 0) {
      for (int p = 1; p <= Store.Image[Target].PlaneCount; ++p) {
        const std::vector<uint32_t> b = FloatBits(Store.Image[Target].Plane(p));
        r.Bits.insert(r.Bits.end(), b.begin(), b.end());
      }
      r.Cards = Store.Header[Target].Cards;
      FreeSlot(Target);
    }
    EXPECT_EQ(CountOpenWindows(), flatDark > 0 ? 1 : 0);
    return r;
  }
  // The mean of loaded frames on one thread against the rows on one thread and on all.
  TMeanOutcome ExpectSameOutcome(const std::vector<std::string>& files, int flatDark = -1) {
    const TMeanOutcome reference = Mean(files, flatDark, false, false);
    EXPECT_GT(reference.Used, 0);
    for (bool multicore : {false, true}) EXPECT_TRUE(Mean(files, flatDark, true, multicore) == reference) << multicore;
    return reference;
  }
  TEngineUi ui_;
  TempDir dir_;
  TProgramOptions saved_;
  bool sse2_ = false;
};

// Frames of all three formats, a frame of another size, a file that is no
// image and one that is missing; with the rows turned and not, grey and colour.
TEST_F(MasterMeanTest, RowsFromTheFilesGiveTheBitsOfLoadedFrames) {
  for (int planes : {1, 3})
    for (int flip : {1, 0}) {
      SCOPED_TRACE(std::to_string(planes) + " planes, flip " + std::to_string(flip));
      Options.FitsFlip = uint8_t(flip);
      const unsigned seed = unsigned(planes * 10 + flip);
      std::vector<std::string> files;
      const int formats[] = {16, -32, 32, 16, -32, 16, -32};
      for (int i = 0; i < 7; ++i) files.push_back(Frame(i, 45, 31, planes, formats[i], seed));
      files.insert(files.begin() + 2, Frame(9, 44, 31, planes, 16, seed));
      const std::string junk = dir_.file("junk.fit");
      WriteText(junk, "no image here");
      files.insert(files.begin() + 4, junk);
      files.push_back(dir_.file("missing.fit"));
      TMeanOutcome r = ExpectSameOutcome(files);
      EXPECT_EQ(r.Used, 7);
      EXPECT_EQ(r.Messages, (std::vector<std::string>{OtherFrameShapeText(files[2]), HeaderNotRecognisedText()}));
      EXPECT_GT(r.Noise, 1);
      EXPECT_EQ(r.TemperatureCount, 7);
      // The first file unreadable: no noise, the next frame comes first.
      files.insert(files.begin(), junk);
      r = ExpectSameOutcome(files);
      EXPECT_EQ(r.Used, 7);
      EXPECT_EQ(r.Noise, 0);
    }
}

// Flats with a flat-dark narrower and lower than they are, with a blank pixel.
TEST_F(MasterMeanTest, AFlatDarkIsSubtractedAsFromLoadedFrames) {
  std::vector<std::string> files;
  for (int i = 0; i < 5; ++i) files.push_back(Frame(i, 40, 30, 3, i % 2 ? -32 : 16, 5));
  std::vector<float> dark(size_t(37 * 26), 25.5f);
  dark[40] = BlankPixel;
  MakeImage(12, 37, 26, {dark});
  ExpectSameOutcome(files, 12);
}

// More files than are kept open at once: the sums wait in the target between groups.
TEST_F(MasterMeanTest, LongListsAddUpInGroups) {
  std::vector<std::string> files;
  for (int i = 0; i < 300; ++i) files.push_back(Frame(i, 5, 3, 1, i % 3 ? 16 : -32, 6));
  ExpectSameOutcome(files);
}

// Rows with blank, invalid, infinite and negative-zero values, sums already
// invalid, with and without a dark, of every length around the vector widths.
TEST(MeanSums, VectorPathsEqualTheScalarPath) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(-1000, 1000);
  std::uniform_int_distribution<int> kind(0, 12);
  auto value = [&] {
    switch (kind(rng)) {
      case 0: return BlankPixel;
      case 1: return NAN;
      case 2: return -2e9f;
      case 3: return INFINITY;
      case 4: return -0.0f;
      case 5: return -1e9f;
      default: return u(rng);
    }
  };
  const bool avx2 = Avx2Enabled;
  for (int32_t w = 0; w <= 40; ++w)
    for (bool withDark : {false, true}) {
      std::vector<float> sum(static_cast<size_t>(w)), frame(sum), dark(sum);
      std::vector<int16_t> count(static_cast<size_t>(w));
      for (int32_t x = 0; x < w; ++x) {
        sum[size_t(x)] = value();
        frame[size_t(x)] = value();
        dark[size_t(x)] = value();
        count[size_t(x)] = int16_t(x);
      }
      std::vector<float> scalar = sum;
      std::vector<int16_t> scalarCount = count;
      AddRowToMean(scalar.data(), scalarCount.data(), frame.data(), withDark ? dark.data() : nullptr, w, false);
      for (bool wide : {false, true}) {
        Avx2Enabled = wide;
        std::vector<float> s = sum;
        std::vector<int16_t> c = count;
        AddRowToMean(s.data(), c.data(), frame.data(), withDark ? dark.data() : nullptr, w, true);
        EXPECT_EQ(FloatBits(s), FloatBits(scalar)) << w << " " << wide;
        EXPECT_EQ(c, scalarCount) << w << " " << wide;
      }
    }
  Avx2Enabled = avx2;
}

}  // namespace
}  // namespace astrelon::test
