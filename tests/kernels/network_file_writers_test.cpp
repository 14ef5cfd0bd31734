// The three weight-file writers: file sizes and headers, every variant read
// back by the program's readers to the same network, the same numbers read by
// a short Python script with struct, and a failed write that keeps the old
// file.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "common/engine_ui.h"
#include "kernels/network/network_file.h"
#include "kernels/network/network_file_writers.h"
#include "kernels/network/two_times_network_file.h"
#include "random_network.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

enum class TFamily { TwoTimes, Universal, Debayer };

using TWriter = bool (*)(const std::string&, const TNetworkWeights&);

TWriter WriterOf(TFamily f) {
  switch (f) {
    case TFamily::TwoTimes: return WriteTwoTimesNetworkFile;
    case TFamily::Universal: return WriteUniversalNetworkFile;
    default: return WriteDebayerNetworkFile;
  }
}

struct TVariant {
  TFamily family;
  int32_t type, phase, n, current;
};

const TVariant Variants[] = {
    {TFamily::TwoTimes, 3, 1, 36, 20},  {TFamily::TwoTimes, 4, 1, 36, 20},   {TFamily::TwoTimes, 3, 3, 36, 36},
    {TFamily::TwoTimes, 4, 3, 20, 12},  {TFamily::TwoTimes, 13, 1, 50, 30},  {TFamily::TwoTimes, 13, 2, 50, 50},
    {TFamily::TwoTimes, 14, 1, 50, 25}, {TFamily::TwoTimes, 14, 2, 9, 9},    {TFamily::Universal, 1, 1, 36, 20},
    {TFamily::Universal, 4, 1, 36, 20}, {TFamily::Universal, 6, 1, 20, 15},  {TFamily::Universal, 7, 1, 12, 12},
    {TFamily::Universal, 11, 1, 36, 36}, {TFamily::Universal, 14, 1, 20, 20}, {TFamily::Universal, 16, 1, 20, 10},
    {TFamily::Universal, 17, 1, 10, 10}, {TFamily::Universal, 1, 2, 36, 36}, {TFamily::Universal, 1, 3, 20, 20},
    {TFamily::Universal, 11, 2, 20, 20}, {TFamily::Debayer, 2, 1, 36, 36},  {TFamily::Debayer, 2, 3, 36, 20},
};

std::string Name(const TVariant& v) {
  return "family " + std::to_string(int(v.family)) + " type " + std::to_string(v.type) + " phase " +
         std::to_string(v.phase);
}

// Whether the file holds the biases, and which of them.
bool WritesBiases(const TVariant& v) {
  if (v.family == TFamily::TwoTimes) return v.type > 10;
  return v.family == TFamily::Debayer || v.type > 2 || v.phase > 1;
}

// Every float of the network in file order: W1 rows, W2 rows, Wout, the biases
// the file holds, the tables.
std::vector<float> FileFloats(const TNetworkWeights& net, const TVariant& v) {
  std::vector<float> f;
  for (int32_t j = 0; j <= net.Top; ++j)
    for (int32_t i = 0; i < net.RowWidth; ++i) f.push_back(net.W1At(j, i));
  for (int32_t j = 0; j <= net.Top; ++j)
    for (int32_t k = 0; k < 21; ++k) f.push_back(net.W2At(j, k));
  f.insert(f.end(), net.Wout.begin(), net.Wout.end());
  if (WritesBiases(v)) {
    f.insert(f.end(), net.B1.begin(), net.B1.end());
    if (v.family != TFamily::TwoTimes) f.insert(f.end(), net.B2.begin(), net.B2.end());
    f.insert(f.end(), net.Bo.begin(), net.Bo.end());
  }
  if (v.phase > 1) {
    f.insert(f.end(), net.Tables2.begin(), net.Tables2.end());
    f.insert(f.end(), net.Tables1.begin(), net.Tables1.end());
  }
  return f;
}

bool SameFloats(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * 4) == 0;
}

// Reads weight files with struct, by the layout each header announces, and
// writes n, current, rate and carried value ("<iidd") and then every float in
// file order ("<f4"); fails unless each file ends exactly after its last block.
// Arguments: file, family ("x2" or "filter"), output, for each file.
const char* PythonReader = R"(
import struct, sys

def read(path, family, out):
    data = open(path, 'rb').read()
    pos = 0
    floats = []

    def take(fmt):
        nonlocal pos
        v = struct.unpack_from('<' + fmt, data, pos)
        pos += struct.calcsize('<' + fmt)
        return v

    def block(k):
        floats.extend(take('%df' % k))

    if family == 'x2':
        h, = take('i')
        if 1 <= h <= 1000:
            n, wide, one = h, False, False
        elif 1000 < h <= 2000:
            n, wide, one = h - 1000, True, False
        else:
            kind, n = divmod(-h - 1, 1000)
            n += 1
            wide, one = kind in (2, 4), kind in (3, 4)
    else:
        first, = take('i')
        if first == 8:
            n, kind = take('ii')
        else:
            kind = first
            n, = take('i')
        wide, one = kind in (4, 14, 6, 16), kind > 10
    block((n + 1) * (61 if wide else 37))
    block((n + 1) * 21)
    block(21 * 4)
    carried = take('d')[0] if family == 'x2' else 0.0
    rate, = take('d')
    current, = take('i')
    tables = (21 + n + 1) * 4001
    rest = (len(data) - pos) // 4
    if family == 'x2':
        if one:
            block(n + 1 + 4)
    else:
        biases = n + 1 + 21 + 4
        assert rest in (0, biases, biases + tables), rest
        if rest:
            block(biases)
    if pos < len(data):
        assert len(data) - pos == tables * 4
        block(tables)
    assert pos == len(data)
    with open(out, 'wb') as f:
        f.write(struct.pack('<iidd', n, current, rate, carried))
        f.write(struct.pack('<%df' % len(floats), *floats))

for i in range(1, len(sys.argv), 3):
    read(*sys.argv[i:i + 3])
)";

class NetworkFileWritersTest : public ::testing::Test {
protected:
  void SetUp() override {
    BuildTanhTable();
    EngineUi().Messages.clear();
  }
  void TearDown() override { Network = TNetworkWeights{}; }
  static void Make(const TVariant& v) {
    MakeRandomNetwork(v.type, v.n, v.current, v.phase, uint64_t(v.type * 10 + v.phase), 1.0);
    Network.Carried = 4321.25;
  }
  TempDir dir_;
};

TEST_F(NetworkFileWritersTest, SizesAndHeaders) {
  const std::string f = dir_.file("net");
  auto bytes = [&](TWriter write) {
    EXPECT_TRUE(write(f, Network));
    return ReadAll(f);
  };
  auto first = [](const std::vector<unsigned char>& b) {
    int32_t v;
    std::memcpy(&v, b.data(), 4);
    return v;
  };
  MakeRandomNetwork(1, 36, 36, 1, 1);
  EXPECT_EQ(bytes(WriteUniversalNetworkFile).size(), 8940u);
  MakeRandomNetwork(3, 36, 36, 1, 1);
  std::vector<unsigned char> b = bytes(WriteTwoTimesNetworkFile);
  EXPECT_EQ(b.size(), 8944u);
  EXPECT_EQ(first(b), 36);
  MakeRandomNetwork(2, 36, 36, 1, 1);
  EXPECT_EQ(bytes(WriteDebayerNetworkFile).size(), 9188u);
  MakeRandomNetwork(2, 36, 36, 3, 1);
  b = bytes(WriteDebayerNetworkFile);
  EXPECT_EQ(b.size(), 9188u + 58u * 16004u);
  EXPECT_EQ(first(b), 2);
  int32_t n = 0, current = 0, top = 0;
  ASSERT_TRUE(LoadNetworkFile(f, n, current, top));
  EXPECT_EQ(Network.Phase, 3);
  // The two-times headers of a phase-3 network of 37 inputs, a phase-1 one of
  // 61 and the one-layer types.
  struct TCase {
    int32_t type, phase, n, header;
  };
  for (const TCase& c : {TCase{3, 3, 36, -1036}, TCase{4, 1, 36, 1036}, TCase{4, 2, 36, -2036},
                         TCase{13, 1, 50, -3050}, TCase{14, 2, 50, -4050}}) {
    MakeRandomNetwork(c.type, c.n, c.n, c.phase, 2);
    EXPECT_EQ(first(bytes(WriteTwoTimesNetworkFile)), c.header) << c.type;
    ASSERT_TRUE(LoadTwoTimesNetworkFile(f, n, current, top));
    EXPECT_EQ(Network.TypeCode, c.type);
    EXPECT_EQ(n, c.n);
    EXPECT_EQ(top, c.type % 10 == 4 ? 60 : 36);
  }
  // The universal header: [type, n] in phase 1 up to type 10, else [8, n, type].
  MakeRandomNetwork(11, 20, 20, 1, 3);
  b = bytes(WriteUniversalNetworkFile);
  EXPECT_EQ(first(b), 8);
  EXPECT_EQ(first({b.begin() + 8, b.end()}), 11);
}

TEST_F(NetworkFileWritersTest, EveryVariantReadsBackToTheSameNetwork) {
  const std::string f = dir_.file("net");
  for (const TVariant& v : Variants) {
    Make(v);
    TNetworkWeights want = Network;
    ASSERT_TRUE(WriterOf(v.family)(f, Network)) << Name(v);
    // What the file does not hold comes back as a fresh network has it.
    if (!WritesBiases(v)) {
      std::fill(want.B1.begin(), want.B1.end(), 0.0f);
      want.B2.fill(0.0f);
      want.Bo.fill(0.0f);
    } else if (v.family == TFamily::TwoTimes) {
      want.B2.fill(0.0f);
    }
    MakeRandomNetwork(17, 9, 9, 1, 99);
    int32_t n = 0, current = 0, top = 0;
    const bool twoTimes = v.family == TFamily::TwoTimes;
    ASSERT_TRUE((twoTimes ? LoadTwoTimesNetworkFile : LoadNetworkFile)(f, n, current, top)) << Name(v);
    const TNetworkWeights& got = Network;
    EXPECT_EQ(got.TypeCode, v.type) << Name(v);
    EXPECT_EQ(n, v.n);
    EXPECT_EQ(current, v.current) << Name(v);
    EXPECT_EQ(top, want.InputTop) << Name(v);
    EXPECT_EQ(got.Layer2Top, want.Layer2Top);
    // Filter files keep no phase: tables make phase 3. Two-times files give 3
    // with a second layer, 2 without.
    const int32_t phase = v.phase == 1 ? 1 : twoTimes && v.type > 10 ? 2 : 3;
    EXPECT_EQ(got.Phase, phase) << Name(v);
    EXPECT_EQ(got.Rate, want.Rate);
    if (twoTimes) {
      EXPECT_EQ(got.Carried, 4321.25);
    }
    EXPECT_TRUE(SameFloats(FileFloats(got, v), FileFloats(want, v))) << Name(v);
    EXPECT_TRUE(SameFloats(got.W1, want.W1)) << Name(v);
    EXPECT_EQ(got.B1, want.B1) << Name(v);
    EXPECT_EQ(got.B2, want.B2) << Name(v);
    EXPECT_EQ(got.Bo, want.Bo) << Name(v);
    EXPECT_EQ(got.Phase1Biases.B1, want.B1);
    EXPECT_EQ(got.Phase2Biases.Bo, want.Bo);
    EXPECT_TRUE(SameFloats(got.Tables1, want.Tables1)) << Name(v);
    EXPECT_TRUE(SameFloats(got.Tables2, want.Tables2)) << Name(v);
    EXPECT_EQ(got.Phase1Rate, !twoTimes && v.phase == 1 ? want.Rate : 0.05) << Name(v);
  }
}

TEST_F(NetworkFileWritersTest, PythonStructReadsTheSameNumbers) {
  std::vector<TVariant> variants;
  std::string args;
  for (const TVariant& v : Variants) {
    if (v.n > 36 && v.phase > 1) continue;  // the large tables add nothing here
    const std::string k = std::to_string(variants.size());
    Make(v);
    ASSERT_TRUE(WriterOf(v.family)(dir_.file("net" + k), Network));
    args += ", '" + dir_.file("net" + k) + "', '" + (v.family == TFamily::TwoTimes ? "x2" : "filter") + "', '" +
            dir_.file("out" + k) + "'";
    variants.push_back(v);
  }
  WriteText(dir_.file("reader.py"), PythonReader);
  ASSERT_TRUE(RunPython("import runpy, sys\nsys.argv = ['reader'" + args + "]\nrunpy.run_path('" +
                        dir_.file("reader.py") + "', run_name='__main__')\n"));
  for (size_t k = 0; k < variants.size(); ++k) {
    const TVariant& v = variants[k];
    Make(v);
    const std::vector<unsigned char> b = ReadAll(dir_.file("out" + std::to_string(k)));
    ASSERT_GE(b.size(), 24u);
    int32_t n, current;
    double rate, carried;
    std::memcpy(&n, b.data(), 4);
    std::memcpy(&current, b.data() + 4, 4);
    std::memcpy(&rate, b.data() + 8, 8);
    std::memcpy(&carried, b.data() + 16, 8);
    EXPECT_EQ(n, v.n) << Name(v);
    EXPECT_EQ(current, v.current) << Name(v);
    EXPECT_EQ(rate, Network.Rate) << Name(v);
    EXPECT_EQ(carried, v.family == TFamily::TwoTimes ? 4321.25 : 0.0) << Name(v);
    std::vector<float> floats((b.size() - 24) / 4);
    std::memcpy(floats.data(), b.data() + 24, floats.size() * 4);
    EXPECT_TRUE(SameFloats(floats, FileFloats(Network, v))) << Name(v);
  }
}

TEST_F(NetworkFileWritersTest, AFailedWriteKeepsTheOldFile) {
  const std::string f = dir_.file("old.nnf");
  WriteText(f, "old network");
  ASSERT_EQ(chmod(f.c_str(), 0444), 0);  // no write bit: refused even to the super-user
  MakeRandomNetwork(1, 12, 12, 1, 1);
  for (const TWriter write : {WriteUniversalNetworkFile, WriteDebayerNetworkFile, WriteTwoTimesNetworkFile}) {
    EngineUi().Messages.clear();
    EXPECT_FALSE(write(f, Network));
    ASSERT_EQ(EngineUi().Messages.size(), 1u);
    EXPECT_EQ(EngineUi().Messages[0], "Die Datei konnte nicht gespeichert werden:\n" + f);
    const std::vector<unsigned char> kept = ReadAll(f);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "old network");
  }
  EXPECT_FALSE(WriteDebayerNetworkFile(dir_.file("no/such/folder.nnb"), Network));
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);  // no temporary file left behind
}

}  // namespace
}  // namespace astrelon::test
