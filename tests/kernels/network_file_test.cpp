// The network weight file readers: the header forms of both families, the
// optional biases and tables found by the remaining size, and refused files
// (unknown type codes, sizes out of range, truncated at every field boundary,
// flipped bytes) that leave the loaded network as it was.
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "common/engine_ui.h"
#include "kernels/network/network_file.h"
#include "kernels/network/network_file_writers.h"
#include "kernels/network/network_weights.h"
#include "kernels/network/neural_tables.h"
#include "kernels/network/two_times_network_file.h"
#include "network_file_bytes.h"
#include "random_network.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

using TLoader = bool (*)(const std::string&, int32_t&, int32_t&, int32_t&);

class NetworkFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    BuildTanhTable();
    EngineUi().Messages.clear();
  }
  void TearDown() override { Network = TNetworkWeights{}; }
  bool Load(const std::vector<unsigned char>& bytes, TLoader load = LoadNetworkFile) {
    WriteAll(path_, bytes);
    return load(path_, n_, current_, top_);
  }
  bool Load(const TNetworkFileBytes& f) { return Load(f.Bytes); }
  // A refused file shows the message once and leaves the network.
  void ExpectRefused(const std::vector<unsigned char>& bytes, TLoader load, const std::string& what) {
    const std::vector<float> w1 = Network.W1;
    const int32_t type = Network.TypeCode;
    EngineUi().Messages.clear();
    EXPECT_FALSE(Load(bytes, load)) << what;
    ASSERT_EQ(EngineUi().Messages.size(), 1u) << what;
    EXPECT_EQ(EngineUi().Messages[0], path_ + "\nkonnte nicht geöffnet werden!");
    EXPECT_EQ(Network.W1, w1) << what;
    EXPECT_EQ(Network.TypeCode, type) << what;
  }
  // An accepted file gives a network whose arrays fit its size.
  void ExpectSound() const {
    const TNetworkWeights& net = Network;
    ASSERT_TRUE(net.Top >= 1 && net.Top <= 1000);
    EXPECT_TRUE(net.Current >= 9 || net.Current == net.Top);
    EXPECT_LE(net.Current, net.Top);
    EXPECT_EQ(net.W1.size(), size_t(net.Stride) * size_t(net.RowWidth));
    EXPECT_EQ(net.W2.size(), size_t(net.Top + 1) * NetworkW2Stride);
    EXPECT_EQ(net.B1.size(), size_t(net.Top + 1));
    EXPECT_EQ(net.Tables1.size(), size_t(net.Top + 1) * NetworkTableSize);
    EXPECT_TRUE(net.Phase >= 1 && net.Phase <= 3);
  }
  static std::vector<unsigned char> FileOf(bool (*write)(const std::string&, const TNetworkWeights&)) {
    TempDir dir;
    EXPECT_TRUE(write(dir.file("net"), Network));
    return ReadAll(dir.file("net"));
  }
  TempDir dir_;
  std::string path_ = dir_.file("net.nnb");
  int32_t n_ = 0, current_ = 0, top_ = 0;
};

TEST_F(NetworkFileTest, FilterHeaderForms) {
  struct TCase {
    const char* name;
    TNetworkFileBytes file;
    int32_t type, n, phase;
  };
  TNetworkFileBytes typeN, thousand, negative, marker, debayer3;
  typeN.Put(1).Put(12).Body(12, 0.25f, 0.03, 10);  // phase 1: ends after "current"
  thousand.Put(1036).Body(36);
  negative.Put(-36).Body(36);
  marker.Put(8).Put(12).Put(2).Body(12).Biases(12, 0.5f).Tables(12, 0.75f);
  debayer3.Put(2).Put(12).Body(12).Biases(12, -0.5f).Tables(12, 0.125f);
  const TCase cases[] = {{"[1, n]", typeN, 1, 12, 1},
                         {"1036", thousand, 1, 36, 1},
                         {"-36", negative, 3, 36, 1},
                         {"[8, n, 2]", marker, 2, 12, 3},
                         {"[2, n] with tables", debayer3, 2, 12, 3}};
  for (const TCase& c : cases) {
    ASSERT_TRUE(Load(c.file)) << c.name;
    EXPECT_EQ(Network.TypeCode, c.type) << c.name;
    EXPECT_EQ(n_, c.n) << c.name;
    EXPECT_EQ(Network.Phase, c.phase) << c.name;
    EXPECT_EQ(top_, 36) << c.name;
  }
  // The last file: biases (also both saved copies) and tables as written.
  EXPECT_EQ(Network.B1[3], -0.5f);
  EXPECT_EQ(Network.Bo[3], -0.5f);
  EXPECT_EQ(Network.Phase1Biases.B1[3], -0.5f);
  EXPECT_EQ(Network.Phase2Biases.Bo[3], -0.5f);
  EXPECT_EQ(Network.Tables1[size_t(12 * 4001 + 4000)], 0.125f);
  ASSERT_TRUE(Load(typeN));
  EXPECT_EQ(current_, 10);
  EXPECT_EQ(Network.W1At(12, 36), 0.25f);
  EXPECT_EQ(Network.B1[0], 0.0f);
  EXPECT_EQ(Network.Phase1Rate, 0.03);
  EXPECT_EQ(Network.Tables1[2000 + 500], TanhTable[500]);  // tables reset to tanh
  // A "current" below 9 is replaced by n.
  TNetworkFileBytes low;
  low.Put(1).Put(12).Body(12, 0.0f, 0.01, 5);
  ASSERT_TRUE(Load(low));
  EXPECT_EQ(current_, 12);
}

TEST_F(NetworkFileTest, RefusedFilterFilesLeaveTheNetwork) {
  TNetworkFileBytes good;
  good.Put(2).Put(12).Body(12, 0.5f).Biases(12, 0.25f);
  ASSERT_TRUE(Load(good));
  std::vector<std::pair<std::string, TNetworkFileBytes>> bad(14);
  bad[0].second.Put(1).Put(1000000000).Floats(100);
  bad[1].second.Put(1).Put(0).Body(0);
  bad[2].second.Put(1).Put(-1).Body(1);
  bad[3].second.Put(1).Put(1001).Body(1001);
  bad[4].second.Put(1).Put(INT32_MAX).Body(1);
  bad[5].second.Put(8).Put(12).Put(2).Body(12).Biases(12);  // phase 3 of type 2 without its tables
  std::mt19937 rng(3);
  for (int i = 0; i < 3000; ++i) bad[6].second.Put(uint8_t(rng()));
  bad[7].second = good;
  bad[7].second.Bytes.resize(good.Bytes.size() / 2);  // truncated in W2
  // Type codes no training writes.
  bad[8].second.Put(5).Put(12).Body(12);
  bad[9].second.Put(0).Put(12).Body(12);
  bad[10].second.Put(8).Put(12).Put(8).Body(12);
  bad[11].second.Put(8).Put(12).Put(10).Body(12);
  bad[12].second.Put(8).Put(12).Put(-3).Body(12);
  // An empty file.
  for (size_t i = 0; i < bad.size(); ++i) ExpectRefused(bad[i].second.Bytes, LoadNetworkFile, std::to_string(i));
  EXPECT_FALSE(LoadNetworkFile(dir_.file("missing.nnb"), n_, current_, top_));
  EXPECT_FALSE(LoadNetworkFile(dir_.path().string(), n_, current_, top_));  // a folder
  EXPECT_EQ(Network.TypeCode, 2);
}

// Weights, biases and tables that are no finite numbers make a file unreadable.
TEST_F(NetworkFileTest, ValuesThatAreNoFiniteNumbersAreRefused) {
  constexpr float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  TNetworkFileBytes good;
  good.Put(2).Put(12).Body(12, 0.5f).Biases(12, 0.25f);
  ASSERT_TRUE(Load(good));
  std::vector<TNetworkFileBytes> bad(5);
  bad[0].Put(2).Put(12).Body(12, nan);
  bad[1].Put(2).Put(12).Body(12, -inf);
  bad[2].Put(2).Put(12).Body(12, 0.5f).Biases(12, nan);
  bad[3].Put(8).Put(12).Put(2).Body(12).Biases(12).Tables(12, inf);
  bad[4] = good;
  std::memcpy(bad[4].Bytes.data() + 8 + 4 * 100, &nan, 4);  // a single weight of W1
  for (size_t i = 0; i < bad.size(); ++i) ExpectRefused(bad[i].Bytes, LoadNetworkFile, std::to_string(i));
}

TEST_F(NetworkFileTest, TwoTimesHeaders) {
  struct TCase {
    int32_t header, type, n, inputTop, phase;
    bool biases, tables;
  };
  const TCase cases[] = {
      {36, 3, 36, 36, 1, false, false},    {1036, 4, 36, 60, 1, false, false}, {-1036, 3, 36, 36, 3, false, true},
      {-2012, 4, 12, 60, 3, false, true},  {-3050, 13, 50, 36, 1, true, false}, {-4050, 14, 50, 60, 2, true, true},
      {-1036, 3, 36, 36, 1, false, false},  // tables announced but absent: phase 1
  };
  for (const TCase& c : cases) {
    const int32_t width = c.inputTop > 36 ? 61 : 37;
    TNetworkFileBytes f;
    f.Put(c.header).Floats(size_t(c.n + 1) * size_t(width), 0.5f).Floats(size_t(c.n + 1) * 21, 0.25f);
    f.Floats(84, -0.5f).Put(123.5).Put(0.0125).Put(int32_t(20));
    if (c.biases) f.Floats(size_t(c.n + 1), 0.125f).Floats(4, -0.125f);
    if (c.tables) f.Tables(c.n, 0.375f);
    ASSERT_TRUE(Load(f.Bytes, LoadTwoTimesNetworkFile)) << c.header;
    EXPECT_EQ(Network.TypeCode, c.type) << c.header;
    EXPECT_EQ(n_, c.n) << c.header;
    EXPECT_EQ(top_, c.inputTop) << c.header;
    EXPECT_EQ(current_, std::min(20, c.n)) << c.header;  // at most n
    EXPECT_EQ(Network.Phase, c.phase) << c.header;
    EXPECT_EQ(Network.Carried, 123.5);
    EXPECT_EQ(Network.Rate, 0.0125);
    EXPECT_EQ(Network.W1At(c.n, width - 1), 0.5f);
    EXPECT_EQ(Network.Wout[83], -0.5f);
    EXPECT_EQ(Network.B1[size_t(c.n)], c.biases ? 0.125f : 0.0f) << c.header;
    EXPECT_EQ(Network.Bo[3], c.biases ? -0.125f : 0.0f) << c.header;
    EXPECT_EQ(Network.Phase2Biases.Bo[3], c.biases ? -0.125f : 0.0f) << c.header;
    EXPECT_EQ(Network.Table1(c.n)[4000], c.tables ? 0.375f : TanhTable[2000]) << c.header;
  }
  // A file that ends after the rate: current is n.
  TNetworkFileBytes f;
  f.Put(int32_t(12)).Floats(13 * 37 + 13 * 21 + 84).Put(1.0).Put(0.01);
  ASSERT_TRUE(Load(f.Bytes, LoadTwoTimesNetworkFile));
  EXPECT_EQ(current_, 12);
}

// Cut at every field boundary (and inside the tables), a two-times file is
// refused where a field it needs is missing and read where the rest is
// optional.
TEST_F(NetworkFileTest, TwoTimesFilesCutAtEveryField) {
  constexpr int32_t n = 12;
  const uint64_t w1 = 13 * 148, w2 = 13 * 84, wout = 336, table = 16004;
  struct TSeries {
    int32_t type, phase;
    std::vector<std::pair<uint64_t, int32_t>> cuts;  // length, phase read (0: refused)
  };
  uint64_t b = 4 + w1 + w2 + wout;
  const TSeries twoLayers{3,
                          3,
                          {{0, 0},
                           {4, 0},
                           {4 + w1, 0},
                           {4 + w1 + w2, 0},
                           {b, 0},
                           {b + 8, 0},
                           {b + 16, 1},
                           {b + 20, 1},
                           {b + 20 + 50000, 1},  // less than 100000 bytes left over: ignored
                           {b + 20 + 200000, 0},
                           {b + 20 + 21 * table, 3},
                           {b + 20 + 21 * table + 1000, 0},
                           {b + 20 + 34 * table, 3}}};
  const TSeries oneLayer{13,
                         2,
                         {{b + 16, 0},
                          {b + 20, 0},
                          {b + 20 + 13 * 4, 0},
                          {b + 20 + 17 * 4, 1},
                          {b + 20 + 17 * 4 + 21 * table, 2},
                          {b + 20 + 17 * 4 + 34 * table - 4, 0},
                          {b + 20 + 17 * 4 + 34 * table, 2}}};
  for (const TSeries& s : {twoLayers, oneLayer}) {
    MakeRandomNetwork(s.type, n, n, s.phase, 3);
    const std::vector<unsigned char> full = FileOf(WriteTwoTimesNetworkFile);
    ASSERT_EQ(full.size(), s.cuts.back().first);
    MakeRandomNetwork(1, 20, 20, 1, 4);  // the network the refused files leave
    for (const auto& [length, phase] : s.cuts) {
      const std::vector<unsigned char> cut(full.begin(), full.begin() + long(length));
      const std::string what = std::to_string(s.type) + " cut at " + std::to_string(length);
      if (phase == 0) {
        ExpectRefused(cut, LoadTwoTimesNetworkFile, what);
        continue;
      }
      EngineUi().Messages.clear();
      ASSERT_TRUE(Load(cut, LoadTwoTimesNetworkFile)) << what;
      EXPECT_EQ(Network.Phase, phase) << what;
      EXPECT_EQ(Network.TypeCode, s.type) << what;
      EXPECT_TRUE(EngineUi().Messages.empty());
      MakeRandomNetwork(1, 20, 20, 1, 4);
    }
  }
}

TEST_F(NetworkFileTest, RefusedTwoTimesFilesLeaveTheNetwork) {
  MakeRandomNetwork(3, 12, 12, 1, 5);
  const std::vector<unsigned char> good = FileOf(WriteTwoTimesNetworkFile);
  auto withHeader = [&](int32_t h) {
    std::vector<unsigned char> f = good;
    for (int b = 0; b < 4; ++b) f[size_t(b)] = uint8_t(uint32_t(h) >> (8 * b));
    return f;
  };
  MakeRandomNetwork(1, 20, 20, 1, 4);
  // Headers no writer makes: n 0, -1, 1001 (2001 and -5001), the extremes.
  for (const int32_t h : {0, -1, -1000, 2001, -5001, INT32_MAX, INT32_MIN})
    ExpectRefused(withHeader(h), LoadTwoTimesNetworkFile, std::to_string(h));
  ExpectRefused({}, LoadTwoTimesNetworkFile, "empty");
  // A header of a larger network than the body holds.
  ExpectRefused(withHeader(40), LoadTwoTimesNetworkFile, "n 40");
}

// Flipped bytes give either the message with the network kept or a sound
// network.
TEST_F(NetworkFileTest, FlippedBytes) {
  for (const TLoader load : {TLoader(LoadNetworkFile), TLoader(LoadTwoTimesNetworkFile)}) {
    MakeRandomNetwork(load == LoadNetworkFile ? 2 : 13, 10, 10, 1, 6);
    const std::vector<unsigned char> good =
        FileOf(load == LoadNetworkFile ? WriteDebayerNetworkFile : WriteTwoTimesNetworkFile);
    MakeRandomNetwork(1, 20, 20, 1, 4);
    const TNetworkWeights before = Network;
    std::mt19937 rng(17);
    int refused = 0;
    for (int trial = 0; trial < 120; ++trial) {
      std::vector<unsigned char> f = good;
      const int flips = 1 + int(rng() % 3);
      for (int k = 0; k < flips; ++k) {
        // Half of the flips hit the header, where they matter most.
        const size_t at = trial % 2 ? rng() % 12 : rng() % f.size();
        f[at] ^= uint8_t(1u << (rng() % 8));
      }
      Network = before;
      EngineUi().Messages.clear();
      if (Load(f, load)) {
        ExpectSound();
      } else {
        ++refused;
        EXPECT_EQ(EngineUi().Messages.size(), 1u);
        EXPECT_EQ(Network.W1, before.W1);
      }
    }
    EXPECT_GT(refused, 10);
  }
}

// The enlargement's reading: the headers of every layout, a "current" below
// 10, and the plain header, whose input count the file's length decides.
TEST_F(NetworkFileTest, EnlargementHeaders) {
  struct TCase {
    int32_t header, type, n, inputTop;
    bool biases;
  };
  // -2050 is a 61-input network of the two-layer kind: type 4, as its phase-1
  // header 1050 gives it.
  const TCase cases[] = {{-1036, 3, 36, 36, false}, {1036, 4, 36, 60, false}, {-2050, 4, 50, 60, false},
                         {-3050, 13, 50, 36, true},  {-4050, 14, 50, 60, true}};
  for (const TCase& c : cases) {
    const int32_t width = c.inputTop > 36 ? 61 : 37;
    TNetworkFileBytes f;
    f.Put(c.header).Floats(size_t(c.n + 1) * size_t(width), 0.5f).Floats(size_t(c.n + 1) * 21, 0.25f);
    f.Floats(84, -0.5f).Put(1.0).Put(0.01).Put(int32_t(5));
    if (c.biases) f.Floats(size_t(c.n + 1), 0.125f).Floats(4, -0.125f);
    ASSERT_TRUE(Load(f.Bytes, LoadEnlargementNetworkFile)) << c.header;
    EXPECT_EQ(Network.TypeCode, c.type) << c.header;
    EXPECT_EQ(n_, c.n) << c.header;
    EXPECT_EQ(top_, c.inputTop) << c.header;
    EXPECT_EQ(current_, c.n) << c.header;  // 5 became n
    EXPECT_EQ(Network.B1[size_t(c.n)], c.biases ? 0.125f : 0.0f) << c.header;
  }
  // A current of 9 stays for the training's reader and becomes n here.
  TNetworkFileBytes nine;
  nine.Put(int32_t(-1036)).Floats(37 * 37 + 37 * 21 + 84).Put(1.0).Put(0.01).Put(int32_t(9));
  ASSERT_TRUE(Load(nine.Bytes, LoadTwoTimesNetworkFile));
  EXPECT_EQ(current_, 9);
  ASSERT_TRUE(Load(nine.Bytes, LoadEnlargementNetworkFile));
  EXPECT_EQ(current_, 36);

  // The plain header: rows of 37 inputs when the length fits them, of 21 when
  // it fits those, else refused.
  constexpr int32_t n = 12;
  for (const int32_t width : {37, 21}) {
    for (const bool withCurrent : {false, true}) {
      TNetworkFileBytes f;
      f.Put(n).Floats(size_t(n + 1) * size_t(width), 0.5f).Floats(size_t(n + 1) * 21, 0.25f).Floats(84, -0.5f);
      f.Put(1.0).Put(0.01);
      if (withCurrent) f.Put(int32_t(11));
      ASSERT_TRUE(Load(f.Bytes, LoadEnlargementNetworkFile)) << width;
      EXPECT_EQ(top_, width - 1);
      EXPECT_EQ(Network.RowWidth, width);
      EXPECT_EQ(Network.W1At(n, width - 1), 0.5f);
      EXPECT_EQ(Network.W2At(n, 20), 0.25f);
      EXPECT_EQ(current_, withCurrent ? 11 : n);
      EXPECT_EQ(Network.Phase, 1);
      f.Put(0.0);  // a length that fits neither layout
      ExpectRefused(f.Bytes, LoadEnlargementNetworkFile, "plain header with 8 bytes more");
    }
  }
}

}  // namespace
}  // namespace astrelon::test
