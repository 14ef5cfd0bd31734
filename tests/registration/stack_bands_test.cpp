// The stack combination's two ways of filling its bands (FITS rows read straight
// from the files, frames loaded into a slot) give the same bits for every band
// height and thread count; the per-pixel statistic's vector path equals its
// scalar path; too few readable frames make no result.
#include <algorithm>
#include <bit>
#include <cmath>
#include <random>

#include <sys/resource.h>
#include <unistd.h>

#include "common/engine_ui.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "platform/memory_probe.h"
#include "registration/stacking/combine_image_stack.h"
#include "registration/stacking/frame_shape.h"
#include "registration/stacking/master_frame_state.h"
#include "registration/stacking/sorting_network.h"
#include "registration/stacking/stack_run.h"
#include "registration/stacking/stack_statistic.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr int Target = 5;

class StackBandsTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    SetEngineUi(&ui_);
    BatchAbort = 0;
    BatchMarkCount = 0;
    SeriesFileList.clear();
    saved_ = Options;
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    AvailableMemoryOverride = nullptr;
    StackFitsRows = true;
    StackBandRowsOverride = 0;
    FlatDarkSlot = -1;
    Options = saved_;
    StoreTest::TearDown();
  }
  // n frames of w x h (planes 1 or 3) with noise, a gradient, a level of their
  // own, stars in some and blank pixels here and there, saved with `bitpix`.
  void WriteFrames(int n, int w, int h, int planes, int bitpix, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0, 12);
    std::uniform_int_distribution<int> pick(0, 40);
    for (int i = 0; i < n; ++i) {
      std::vector<std::vector<float>> v(size_t(planes), std::vector<float>(size_t(w * h)));
      for (int p = 0; p < planes; ++p)
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            float value = std::round(900 + 40 * i + 10 * p + 3 * x + 2 * y + noise(rng));
            if (pick(rng) == 0) value += 5000;
            if (bitpix < 0 && pick(rng) == 1) value = BlankPixel;
            v[size_t(p)][size_t(y * w + x)] = value;
          }
      const std::string path = dir_.file("frame" + std::to_string(seed) + "_" + std::to_string(i) + ".fit");
      MakeImage(40, w, h, v);
      ASSERT_TRUE(SaveFits(40, bitpix, path, false, false));
      FreeSlot(40);
      SeriesFileList.push_back(path);
    }
  }
  std::vector<uint32_t> Run(TStackMethod method, bool flat) {
    Store.Reset();
    const int n = CombineImageStack({.TargetSlot = Target, .Count = int(SeriesFileList.size()), .Method = method,
                                     .IsFlat = flat});
    EXPECT_EQ(n, int(SeriesFileList.size()));
    std::vector<float> all;
    for (int p = 1; p <= Store.Image[Target].PlaneCount; ++p)
      all.insert(all.end(), Store.Image[Target].Planes[size_t(p)].begin(), Store.Image[Target].Planes[size_t(p)].end());
    return FloatBits(all);
  }
  // The run loading each frame into a slot in one band on one thread, against
  // the FITS rows (and once more the slots) in bands of 1, 2, 7 and 40 rows on
  // one thread and on all.
  void ExpectSameBitsEverywhere(bool flat) {
    for (TStackMethod m : {TStackMethod::Sigma, TStackMethod::MeanMed, TStackMethod::Median}) {
      SCOPED_TRACE(std::string(StackMethodName(m)) + (flat ? " flat" : ""));
      StackFitsRows = false;
      StackBandRowsOverride = 0;
      Options.Multicore = 0;
      const std::vector<uint32_t> reference = Run(m, flat);
      for (int rows : {1, 2, 7, 40})
        for (int multicore : {0, 1}) {
          SCOPED_TRACE(std::to_string(rows) + " rows, multicore " + std::to_string(multicore));
          StackFitsRows = true;
          StackBandRowsOverride = rows;
          Options.Multicore = uint8_t(multicore);
          EXPECT_EQ(Run(m, flat), reference);
        }
      StackFitsRows = false;
      StackBandRowsOverride = 7;
      Options.Multicore = 1;
      EXPECT_EQ(Run(m, flat), reference);
    }
    EXPECT_TRUE(ui_.Messages.empty());
  }
  TEngineUi ui_;
  TempDir dir_;
  TProgramOptions saved_;
};

TEST_F(StackBandsTest, SixteenBitFramesGiveTheSameBitsFromRowsAndSlots) {
  WriteFrames(9, 37, 23, 1, 16, 1);
  ExpectSameBitsEverywhere(false);
  ExpectSameBitsEverywhere(true);
}

TEST_F(StackBandsTest, FloatFramesWithBlanksGiveTheSameBitsFromRowsAndSlots) {
  WriteFrames(6, 41, 19, 1, -32, 2);
  ExpectSameBitsEverywhere(false);
}

TEST_F(StackBandsTest, ColourAndTurnedFramesWithAFlatDarkGiveTheSameBits) {
  WriteFrames(5, 16, 45, 3, 16, 3);
  Options.FitsFlip = 1;
  ExpectSameBitsEverywhere(false);
  // A grey flat-dark narrower and lower than the flats, with a blank pixel.
  std::vector<float> dark(size_t(14 * 40), 30.0f);
  dark[17] = BlankPixel;
  MakeImage(9, 14, 40, {dark});
  FlatDarkSlot = 9;
  ExpectSameBitsEverywhere(true);
}

// Under tight memory a frame that cannot be loaded says so and is not counted;
// with fewer than three frames left nothing is made. Read as rows, the same
// frames need no memory for whole frames and are combined.
TEST_F(StackBandsTest, FramesThatCannotBeLoadedLeaveNoBlankResult) {
  WriteFrames(4, 300, 200, 1, -32, 4);
  AvailableMemoryOverride = [] {
    return Store.InUse[Target] ? uint64_t(100000) : uint64_t(1) << 40;
  };
  StackFitsRows = false;
  Store.Reset();
  EXPECT_EQ(CombineImageStack({.TargetSlot = Target, .Count = 4, .Method = TStackMethod::Median}), -1);
  EXPECT_FALSE(Store.InUse[Target]);
  // Every frame (the first one too, which the target holds) is loaded again for the band.
  ASSERT_EQ(ui_.Messages.size(), 5u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ui_.Messages[size_t(i)], OutOfMemoryText(SeriesFileList[size_t(i)]));
  EXPECT_EQ(ui_.Messages[4], TooFewFramesText(0));
  ui_.Messages.clear();
  StackFitsRows = true;
  Store.Reset();
  EXPECT_EQ(CombineImageStack({.TargetSlot = Target, .Count = 4, .Method = TStackMethod::Median}), 4);
  EXPECT_TRUE(ui_.Messages.empty());
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool UnderSanitizer = true;
#else
constexpr bool UnderSanitizer = false;
#endif

// Twenty frames of 6000 x 4000 16-bit values (sparse files: their data are
// zeros and take no disk space) under an address-space limit of 0.8 GB: the run
// either combines every frame into a result without a blank pixel, or ends
// with its messages and makes no result; it never returns a blank image.
TEST_F(StackBandsTest, TwentyLargeFramesUnderAnAddressSpaceLimitLeaveNoBlankResult) {
  if (UnderSanitizer) GTEST_SKIP() << "address-space limits do not work under the sanitizers";
  constexpr int W = 6000, H = 4000, N = 20;
  auto card = [](std::string key, const std::string& value) {
    key.resize(8, ' ');
    key += "= " + std::string(20 - value.size(), ' ') + value;
    key.resize(80, ' ');
    return key;
  };
  std::string header = card("SIMPLE", "T") + card("BITPIX", "16") + card("NAXIS", "2") +
                       card("NAXIS1", std::to_string(W)) + card("NAXIS2", std::to_string(H));
  header += std::string("END").append(77, ' ');
  header.resize(2880, ' ');
  const off_t length = off_t(2880) + (off_t(W) * H * 2 + 2879) / 2880 * 2880;
  for (int i = 0; i < N; ++i) {
    const std::string path = dir_.file("large" + std::to_string(i) + ".fit");
    WriteText(path, header);
    ASSERT_EQ(truncate(path.c_str(), length), 0);
    SeriesFileList.push_back(path);
  }
  auto run = [&] {
    rlimit lim{};
    getrlimit(RLIMIT_AS, &lim);
    lim.rlim_cur = rlim_t(800) << 20;
    if (setrlimit(RLIMIT_AS, &lim) != 0) return 10;
    Options.Multicore = true;
    const int n = CombineImageStack({.TargetSlot = Target, .Count = N, .Method = TStackMethod::Median});
    if (n == -1) return !Store.InUse[Target] && !ui_.Messages.empty() ? 0 : 11;
    if (n != N || !ui_.Messages.empty() || !Store.InUse[Target]) return 12;
    const TImageSlot& im = Store.Image[Target];
    if (im.Width != W || im.Height != H) return 13;
    return std::all_of(im.Planes[1].begin(), im.Planes[1].end(), [](float v) { return v == 0.0f; }) ? 0 : 14;
  };
  EXPECT_EXIT(std::exit(run()), testing::ExitedWithCode(0), "");
}

TEST_F(StackBandsTest, UnreadableFramesLeaveFewerThanThreeAndNoResult) {
  WriteFrames(2, 8, 6, 1, 16, 5);
  const std::string junk = dir_.file("junk.fit"), gone = dir_.file("gone.fit");
  WriteText(junk, "no image here");
  SeriesFileList.push_back(junk);
  SeriesFileList.push_back(gone);
  for (bool rows : {true, false}) {
    StackFitsRows = rows;
    ui_.Messages.clear();
    Store.Reset();
    Store.FileName[Target] = "/d/kept.fit";
    EXPECT_EQ(CombineImageStack({.TargetSlot = Target, .Count = 4, .Method = TStackMethod::Sigma}), -1);
    EXPECT_FALSE(Store.InUse[Target]);
    EXPECT_EQ(Store.FileName[Target], "/d/kept.fit");
    ASSERT_FALSE(ui_.Messages.empty());
    EXPECT_EQ(ui_.Messages.back(), TooFewFramesText(2));
  }
}

// Pixel values with blanks, ties, negative and huge values for every frame
// count up to beyond the network's reach: both paths give the same bits.
TEST(StackStatistic, VectorPathEqualsScalarPath) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> u(-50, 50);
  std::uniform_int_distribution<int> kind(0, 30);
  constexpr int32_t pixels = 53;
  for (int n = 1; n <= 70; ++n) {
    std::vector<std::vector<float>> frames(static_cast<size_t>(n), std::vector<float>(size_t{pixels}));
    for (auto& f : frames)
      for (int32_t x = 0; x < pixels; ++x) {
        const int k = kind(rng);
        // Columns from 24 on hold valid values only, so that whole lanes run in the network.
        f[size_t(x)] = k == 0 && x < 24   ? BlankPixel
                       : k == 1           ? 1e30f
                       : k == 2           ? -0.0f
                       : k < 8            ? float(k)
                                          : u(rng);
      }
    std::vector<const float*> rows;
    for (const auto& f : frames) rows.push_back(f.data());
    for (TStackMethod m : {TStackMethod::Sigma, TStackMethod::MeanMed, TStackMethod::Median}) {
      std::vector<float> scalar(pixels), vector(pixels);
      CombineStackPixels(m, rows, pixels, 7.5f, scalar.data(), false);
      CombineStackPixels(m, rows, pixels, 7.5f, vector.data(), true);
      EXPECT_EQ(FloatBits(vector), FloatBits(scalar)) << n << " frames, method " << int(m);
    }
  }
}

TEST(SortingNetwork, SortsEveryZeroOneInputAndRandomRuns) {
  for (int32_t n = 1; n <= 14; ++n) {
    const auto net = SortingNetwork(n);
    for (uint32_t bits = 0; bits < (1u << n); ++bits) {
      std::vector<int> v(static_cast<size_t>(n));
      for (int32_t i = 0; i < n; ++i) v[size_t(i)] = (bits >> i) & 1;
      for (const auto& [a, b] : net)
        if (v[size_t(a)] > v[size_t(b)]) std::swap(v[size_t(a)], v[size_t(b)]);
      ASSERT_TRUE(std::is_sorted(v.begin(), v.end())) << n << " " << bits;
    }
  }
  std::mt19937 rng(1);
  for (int32_t n = 15; n <= 64; ++n) {
    const auto net = SortingNetwork(n);
    const std::vector<int32_t> ranks{(n - 1) / 2, n / 2};
    const auto median = NetworkForPositions(net, ranks);
    EXPECT_LT(median.size(), net.size());
    for (int t = 0; t < 50; ++t) {
      std::vector<int> v(static_cast<size_t>(n));
      for (int& x : v) x = int(rng() % 17);
      std::vector<int> sorted = v, part = v;
      std::sort(sorted.begin(), sorted.end());
      for (const auto& [a, b] : net)
        if (v[size_t(a)] > v[size_t(b)]) std::swap(v[size_t(a)], v[size_t(b)]);
      for (const auto& [a, b] : median)
        if (part[size_t(a)] > part[size_t(b)]) std::swap(part[size_t(a)], part[size_t(b)]);
      ASSERT_EQ(v, sorted);
      for (int32_t r : ranks) ASSERT_EQ(part[size_t(r)], sorted[size_t(r)]);
    }
  }
}

}  // namespace
}  // namespace astrelon::test
