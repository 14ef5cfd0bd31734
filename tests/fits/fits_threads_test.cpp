// Reading and writing on worker threads: the same planes, figures and bytes
// with one thread or many, side by side or front to back, and no hang when a
// read fails half-way.
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "fits_test_util.h"
#include "platform/processor_features.h"
#include "store/fits/fits_chunk_turns.h"
#include "store/fits/fits_reader.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"
#include "store/planes/plane_routines.h"
#include "test_support.h"

namespace astrelon {
namespace {

std::time_t FixedClock() { return 1700000000; }

class FitsThreadsTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    oldClock_ = FitsSaveClock;
    FitsSaveClock = &FixedClock;
    Settings.FitsExtension = ".fit";
  }
  void TearDown() override {
    Options.FitsFlip = 1;
    Options.Multicore = 1;
    Sse2Enabled = sse2_;
    FitsSaveClock = oldClock_;
    test::StoreTest::TearDown();
  }
  test::TempDir dir_;
  test::TRecordingUi ui_;
  std::time_t (*oldClock_)() = nullptr;
  bool sse2_ = Sse2Enabled;
};

// Rows of 1001 samples, so that the chunks of a quarter megabyte end inside rows.
constexpr int W = 1001, H = 300;

std::vector<uint8_t> SampleData(int bitpix, int planes, std::mt19937& rng) {
  std::uniform_int_distribution<int> raw(-32768, 32767);
  std::uniform_real_distribution<float> value(-50.0f, 5000.0f);
  std::vector<uint8_t> data;
  for (int i = 0; i < W * H * planes; ++i) {
    if (bitpix == 16)
      test::PutBe16(data, int16_t(i % 997 == 0 ? -32768 : raw(rng)));
    else
      test::PutBeFloat(data, i % 997 == 0 ? std::numeric_limits<float>::quiet_NaN() : value(rng));
  }
  return data;
}

TEST_F(FitsThreadsTest, PlanesAndFiguresDoNotDependOnThreadsOrReadOrder) {
  std::mt19937 rng(5);
  for (int bitpix : {16, -32}) {
    for (int planes : {1, 3}) {
      std::vector<std::string> cards = test::ImageCards(bitpix, W, H, planes);
      if (bitpix == 16) {
        cards.push_back(test::ValueCard("BZERO", "100.5"));
        cards.push_back(test::ValueCard("BSCALE", "0.25"));
        cards.push_back(test::ValueCard("BLANK", "-32768"));
      }
      const std::string file = dir_.file("in.fit");
      test::WriteAll(file, test::FitsFile(cards, SampleData(bitpix, planes, rng)));
      TFitsFile f;
      ASSERT_TRUE(OpenFitsFile(file, f));
      for (bool flip : {true, false}) {
        TFitsPlanes first;
        std::array<TMinMaxScan, 4> firstScans;
        ASSERT_EQ(ReadFitsPlanes(f, flip, 1, first, firstScans), TFitsReadStatus::Ok);
        for (int p = 1; p <= planes; ++p) {
          // The figures are those of a pass over the finished plane.
          TMinMaxScan whole;
          ScanMinMax(first[size_t(p)], W, H, W, whole, false);
          EXPECT_EQ(firstScans[size_t(p)].Lo, whole.Lo);
          EXPECT_EQ(firstScans[size_t(p)].Hi, whole.Hi);
        }
        for (int threads : {3, 8}) {
          for (TFitsReadOrder order : {TFitsReadOrder::ByCache, TFitsReadOrder::FileOrder}) {
            TFitsPlanes other;
            std::array<TMinMaxScan, 4> scans;
            ASSERT_EQ(ReadFitsPlanes(f, flip, threads, other, scans, order), TFitsReadStatus::Ok);
            for (int p = 1; p <= planes; ++p) {
              EXPECT_EQ(std::memcmp(other[size_t(p)].data(), first[size_t(p)].data(), size_t(W) * H * 4), 0)
                  << bitpix << " plane " << p << " threads " << threads;
              EXPECT_EQ(scans[size_t(p)].Lo, firstScans[size_t(p)].Lo);
              EXPECT_EQ(scans[size_t(p)].Hi, firstScans[size_t(p)].Hi);
            }
          }
        }
      }
    }
  }
}

TEST_F(FitsThreadsTest, AFileCutShortWhileReadingIsAReadError) {
  std::mt19937 rng(6);
  const std::string file = dir_.file("short.fit");
  test::WriteAll(file, test::FitsFile(test::ImageCards(-32, W, H), SampleData(-32, 1, rng)));
  for (TFitsReadOrder order : {TFitsReadOrder::ByCache, TFitsReadOrder::FileOrder}) {
    TFitsFile f;
    ASSERT_TRUE(OpenFitsFile(file, f));
    std::filesystem::resize_file(file, 2880 + W * H * 2);
    TFitsPlanes planes;
    std::array<TMinMaxScan, 4> scans;
    EXPECT_EQ(ReadFitsPlanes(f, true, 8, planes, scans, order), TFitsReadStatus::ReadError);
    test::WriteAll(file, test::FitsFile(test::ImageCards(-32, W, H), SampleData(-32, 1, rng)));
  }
}

TEST_F(FitsThreadsTest, LoadAndSaveGiveTheSameResultsWithOneThreadOrMany) {
  // Large enough for several workers: 2.1 million samples.
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> value(-3.0f, 900.0f);
  for (int planes : {1, 3}) {
    const int w = planes == 1 ? 2100 : 700, h = 1000;
    test::PutImage(1, w, h, planes, [&](int p, int x, int y) {
      if (p == 1 && x == 5 && y == 2) return -0.0f;
      if (p == 1 && x == 6 && y == 900) return 0.0f;
      // Blank pixels only late in the last plane: the float write meets them half-way.
      return p == planes && y > 700 && (x * 7 + y) % 10007 == 0 ? BlankPixel : std::max(value(rng), 0.5f);
    });
    for (int bitpix : {16, 32, -32}) {
      std::vector<std::vector<unsigned char>> files;
      std::vector<TDisplayRecord> displays;
      for (int multicore : {0, 1}) {
        for (bool sse2 : {false, true}) {
          Options.Multicore = uint8_t(multicore);
          Sse2Enabled = sse2;
          const std::string name = dir_.file("out" + std::to_string(files.size()) + ".fit");
          ASSERT_TRUE(SaveFits(1, bitpix, name, true, false));
          EXPECT_EQ(Store.Image[1].MinValue, 0.0f);
          EXPECT_FALSE(std::signbit(Store.Image[1].MinValue));
          files.push_back(test::ReadAll(name));
          ASSERT_TRUE(LoadFits(2, name, false));
          displays.push_back(Store.Display[2]);
        }
      }
      for (size_t k = 1; k < files.size(); ++k) {
        EXPECT_EQ(files[k], files[0]) << "BITPIX " << bitpix << " run " << k;
        const TDisplayRecord &a = displays[k], &b = displays[0];
        EXPECT_EQ(a.Black, b.Black);
        EXPECT_EQ(a.White, b.White);
        EXPECT_EQ(a.Gamma, b.Gamma);
        EXPECT_EQ(a.SqrtHistogram, b.SqrtHistogram);
        EXPECT_EQ(a.Histogram, b.Histogram);
      }
    }
  }
}

TEST(FitsChunkTurns, OrderedStepsRunInChunkOrderAndAFailureReleasesWaiters) {
  TChunkTurns turns(200);
  std::vector<int64_t> order;
  RunChunkWorkers(6, turns, [&] {
    for (int64_t c = turns.Claim(); c >= 0; c = turns.Claim()) {
      if (c % 7 == 0) std::this_thread::yield();
      ASSERT_TRUE(turns.WaitTurn(c));
      order.push_back(c);
      turns.PassTurn();
    }
  });
  ASSERT_EQ(order.size(), 200u);
  for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], int64_t(i));

  TChunkTurns failing(50);
  std::atomic<int> waited{0};
  EXPECT_THROW(RunChunkWorkers(4, failing,
                               [&] {
                                 for (int64_t c = failing.Claim(); c >= 0; c = failing.Claim()) {
                                   if (c == 3) throw std::runtime_error("chunk 3");
                                   if (!failing.WaitTurn(c)) return;
                                   ++waited;
                                   failing.PassTurn();
                                 }
                               }),
               std::runtime_error);
  EXPECT_LE(waited.load(), 3);
}

}  // namespace
}  // namespace astrelon
