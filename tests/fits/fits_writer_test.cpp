// The FITS writer: byte layout, the cards it maintains, scaling and blank codes,
// and what a failed write leaves behind.
#include <algorithm>
#include "store/fits/fits_writer.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cmath>
#include <filesystem>

#include "common/pascal_format.h"
#include "core/settings.h"
#include "fits_test_util.h"
#include "store/fits/fits_reader.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

std::time_t FixedTime = 1700000000;
std::time_t FixedClock() { return FixedTime; }

class FitsWriterTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    Options.FitsFlip = 1;
    Settings.FitsExtension = ".fit";
    oldClock_ = FitsSaveClock;
    FitsSaveClock = &FixedClock;
  }
  void TearDown() override {
    Options.FitsFlip = 1;
    FitsSaveClock = oldClock_;
    test::StoreTest::TearDown();
  }
  // The header cards of a written file up to END.
  static std::vector<std::string> FileCards(const std::vector<unsigned char>& bytes) {
    std::vector<std::string> cards;
    for (size_t at = 0; at + 80 <= bytes.size(); at += 80) {
      cards.emplace_back(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + 80));
      if (cards.back().compare(0, 8, "END     ") == 0) break;
    }
    return cards;
  }
  static const std::string* FindCard(const std::vector<std::string>& cards, const std::string& prefix) {
    for (const std::string& c : cards)
      if (c.compare(0, prefix.size(), prefix) == 0) return &c;
    return nullptr;
  }
  static int16_t Be16(const std::vector<unsigned char>& b, size_t at) { return int16_t(b[at] << 8 | b[at + 1]); }
  test::TempDir dir_;
  test::TRecordingUi ui_;
  std::time_t (*oldClock_)() = nullptr;
};

TEST_F(FitsWriterTest, ByteLayoutOfA100x1Image) {
  test::PutImage(1, 100, 1, 1, [](int, int x, int) { return float(x); });
  const std::string file = dir_.file("row.fit");
  ASSERT_TRUE(SaveFits(1, 16, file, false, false));
  const std::vector<unsigned char> b = test::ReadAll(file);
  ASSERT_EQ(b.size(), 5760u);  // one header block, 200 data bytes and 2680 zeros
  EXPECT_TRUE(std::all_of(b.begin() + 2880 + 200, b.end(), [](unsigned char c) { return c == 0; }));
  const std::vector<std::string> cards = FileCards(b);
  EXPECT_EQ(cards[0], PadCard("SIMPLE  =                    T"));
  EXPECT_EQ(cards[1], PadCard("BITPIX  =                   16"));
  EXPECT_EQ(cards[2], PadCard("NAXIS   =                    2"));
  EXPECT_EQ(cards[3], PadCard("NAXIS1  =                  100"));
  EXPECT_EQ(cards[4], PadCard("NAXIS2  =                    1"));
  // Blank cards after END fill the block.
  const size_t afterEnd = cards.size() * 80;
  EXPECT_TRUE(std::all_of(b.begin() + std::ptrdiff_t(afterEnd), b.begin() + 2880, [](unsigned char c) { return c == ' '; }));
  // The maximum 99 has the raw code 32766 and the minimum 0 the code -32764.
  EXPECT_EQ(Be16(b, 2880 + 2 * 99), 32766);
  EXPECT_EQ(Be16(b, 2880), -32764);
}

TEST_F(FitsWriterTest, HeaderIsPaddedToWholeBlocks) {
  test::PutImage(1, 3, 2, 1, [](int, int x, int y) { return float(x + y); });
  // Default header (5 cards), BZERO, BSCALE, save comment and END make 9; add
  // history cards until END is card 36, which then fills the block exactly.
  for (int i = 0; i < 27; ++i) {
    Store.NewHistoryCard[1] = 1;
    AddHistoryCard(1, "step " + std::to_string(i), 1);
  }
  const std::string file = dir_.file("block.fit");
  ASSERT_TRUE(SaveFits(1, 16, file, false, false));
  std::vector<unsigned char> b = test::ReadAll(file);
  EXPECT_EQ(FileCards(b).size(), 36u);
  EXPECT_EQ(b.size(), 2880u * 2);
  // One card more needs a second header block of 35 blank cards.
  Store.NewHistoryCard[1] = 1;
  AddHistoryCard(1, "one more", 1);
  ASSERT_TRUE(SaveFits(1, 16, file, false, false));
  b = test::ReadAll(file);
  EXPECT_EQ(FileCards(b).size(), 37u);
  EXPECT_EQ(b.size(), 2880u * 3);
}

TEST_F(FitsWriterTest, SixteenBitScalingOf0To65535) {
  test::PutImage(1, 256, 256, 1, [](int, int x, int y) { return float(y * 256 + x); });
  const std::string file = dir_.file("full.fit");
  ASSERT_TRUE(SaveFits(1, 16, file, false, false));
  const std::vector<std::string> cards = FileCards(test::ReadAll(file));
  const double bscale = 65535.0 / 65530.0;
  ASSERT_NE(FindCard(cards, "BSCALE  = "), nullptr);
  EXPECT_EQ(*FindCard(cards, "BSCALE  = "), PadCard("BSCALE  =  " + FormatCardExponent(bscale)));
  EXPECT_EQ(*FindCard(cards, "BZERO   = "), PadCard("BZERO   =  " + FormatCardExponent(65535.0 - 32766.0 * bscale)));
  EXPECT_EQ(FindCard(cards, "BLANK"), nullptr);
  ASSERT_TRUE(LoadFits(2, file, false));
  for (size_t i = 0; i < 65536; ++i) ASSERT_NEAR(Store.Image[2].Plane(1)[i], float(i), bscale / 2 + 1e-3);
}

TEST_F(FitsWriterTest, FlatImageWritesBscaleZero) {
  test::PutImage(1, 4, 3, 1, [](int, int, int) { return 77.25f; });
  const std::string file = dir_.file("flat.fit");
  ASSERT_TRUE(SaveFits(1, 16, file, false, false));
  const std::vector<unsigned char> b = test::ReadAll(file);
  EXPECT_EQ(*FindCard(FileCards(b), "BSCALE"), PadCard("BSCALE  =  0.0000000000000E+00"));
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(Be16(b, 2880 + 2 * i), 0);
  ASSERT_TRUE(LoadFits(2, file, false));
  for (float v : Store.Image[2].Plane(1)) EXPECT_EQ(v, 77.25f);
}

TEST_F(FitsWriterTest, FileNameGetsTheFitsExtension) {
  test::PutImage(1, 2, 2, 1, [](int, int x, int) { return float(x); });
  ASSERT_TRUE(SaveFits(1, -32, dir_.file("a.fits"), false, false));
  EXPECT_TRUE(std::filesystem::exists(dir_.file("a.fit")));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("a.fits")));
  EXPECT_EQ(Store.FileName[1], dir_.file("a.fit"));
  ASSERT_TRUE(SaveFits(1, -32, dir_.file("b.FTS"), false, false));
  EXPECT_EQ(Store.FileName[1], dir_.file("b.FTS"));
}

TEST_F(FitsWriterTest, BlanksInFloatFiles) {
  test::PutImage(1, 4, 2, 1, [](int, int x, int y) { return x == 1 && y == 1 ? BlankPixel : float(x * 10 + y); });
  Store.Image[1].At(1, 2, 0) = NAN;  // NaN is blank too
  const std::string file = dir_.file("blank.fit");
  ASSERT_TRUE(SaveFits(1, -32, file, false, false));
  const std::vector<unsigned char> b = test::ReadAll(file);
  const std::vector<std::string> cards = FileCards(b);
  // lo = 0 - 0.0001 * 31 - 0.00001 rounds (after - 0.5) to -1.
  EXPECT_EQ(*FindCard(cards, "COMMENT BLANK "), PadCard("COMMENT BLANK -1.0000000000000E+00"));
  EXPECT_EQ(FindCard(cards, "BLANK "), nullptr);
  EXPECT_EQ(FindCard(cards, "BZERO"), nullptr);
  EXPECT_EQ(b[2880 + 4 * 5], 0xBF);  // -1.0f = BF800000 at (1, 1)
  EXPECT_EQ(b[2880 + 4 * 2], 0xBF);  // and at the NaN
  ASSERT_TRUE(LoadFits(2, file, false));
  EXPECT_FALSE(IsValidPixel(Store.Image[2].At(1, 1, 1)));
  EXPECT_FALSE(IsValidPixel(Store.Image[2].At(1, 2, 0)));
  EXPECT_EQ(Store.Image[2].At(1, 3, 1), 31.0f);
}

TEST_F(FitsWriterTest, BlanksInIntegerFilesUseTheRawCode) {
  test::PutImage(1, 5, 3, 1, [](int, int x, int y) { return x == 2 ? NAN : float(x * 100 - y); });
  const std::string file = dir_.file("blank16.fit");
  ASSERT_TRUE(SaveFits(1, 16, file, false, false));
  const std::vector<unsigned char> b = test::ReadAll(file);
  const TFitsScalePlan plan = PlanFitsScaling(16, -2.0f, 400.0f, true);
  EXPECT_EQ(*FindCard(FileCards(b), "BLANK   "), PadCard("BLANK   = " + std::string(20 - 6, ' ') + IntToStr(plan.BlankCode)));
  EXPECT_EQ(Be16(b, 2880 + 2 * 2), plan.BlankCode);
  ASSERT_TRUE(LoadFits(2, file, false));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const float v = Store.Image[2].At(1, x, y);
      if (x == 2)
        EXPECT_FALSE(IsValidPixel(v));
      else
        EXPECT_NEAR(v, float(x * 100 - y), plan.Bscale);
    }
}

TEST_F(FitsWriterTest, FloatBlankOfAHugeImageReadsBack) {
  // Near 1e16 a float has no exact 14-digit card text in general; the blank
  // pixels must still read back as blank and the valid ones unchanged.
  for (double m = 1e10; m < 1e17; m *= 1.37) {
    SCOPED_TRACE(m);
    const float lo = float(m), hi = float(m * 1.05);
    test::PutImage(1, 3, 1, 1, [&](int, int x, int) { return x == 0 ? lo : x == 1 ? BlankPixel : hi; });
    const std::string file = dir_.file("huge.fit");
    ASSERT_TRUE(SaveFits(1, -32, file, false, false));
    ASSERT_TRUE(LoadFits(2, file, false));
    EXPECT_EQ(Store.Image[2].At(1, 0, 0), lo);
    EXPECT_FALSE(IsValidPixel(Store.Image[2].At(1, 1, 0)));
    EXPECT_EQ(Store.Image[2].At(1, 2, 0), hi);
  }
}

TEST_F(FitsWriterTest, AKeywordBeginningWithEndIsKept) {
  // ENDTIME is an ordinary card: it survives a load and a save, and the file ends with END.
  std::vector<std::string> cards = test::ImageCards(8, 2, 1);
  cards.push_back("ENDTIME = '12:00:00'");
  const std::string file = dir_.file("endtime.fit");
  test::WriteAll(file, test::FitsFile(cards, {1, 2}));
  ASSERT_TRUE(LoadFits(1, file, false));
  ASSERT_TRUE(SaveFits(1, 16, file, false, false));
  const std::vector<std::string> written = FileCards(test::ReadAll(file));
  ASSERT_GE(written.size(), 2u);
  EXPECT_NE(std::find(written.begin(), written.end(), PadCard("ENDTIME = '12:00:00'")), written.end());
  EXPECT_EQ(written.back(), PadCard("END"));
  EXPECT_EQ(std::count(written.begin(), written.end(), PadCard("END")), 1);
  EXPECT_EQ(test::ReadWithCfitsio(file).Error, "");
  ASSERT_TRUE(LoadFits(2, file, false));
  EXPECT_NEAR(Store.Image[2].At(1, 1, 0), 2.0f, 1e-4f);
  EXPECT_EQ(GetHeaderValue(2, "ENDTIME", false), "12:00:00");
}

TEST_F(FitsWriterTest, BlankValueIsLoweredAwayFromValidPixels) {
  // A minimum of -0.995 gives the blank value -1, within 0.01 of it: the reader
  // would take the minimum for blank. The writer lowers the blank value.
  for (int bitpix : {-32, 16, 32}) {
    SCOPED_TRACE(bitpix);
    test::PutImage(1, 3, 1, 1, [](int, int x, int) { return x == 0 ? -0.995f : x == 1 ? BlankPixel : 0.5f; });
    const TFitsScalePlan plan = PlanFitsScaling(bitpix, -0.995f, 0.5f, true);
    if (bitpix == -32) {
      EXPECT_LE(plan.BlankFloat, -2.0f);
    }
    const std::string file = dir_.file("low.fit");
    ASSERT_TRUE(SaveFits(1, bitpix, file, false, false));
    ASSERT_TRUE(LoadFits(2, file, false));
    EXPECT_NEAR(Store.Image[2].At(1, 0, 0), -0.995f, 1e-4);
    EXPECT_FALSE(IsValidPixel(Store.Image[2].At(1, 1, 0)));
  }
}

TEST_F(FitsWriterTest, SaveCommentOncePerSecond) {
  test::PutImage(1, 2, 2, 1, [](int, int x, int) { return float(x); });
  const std::string file = dir_.file("c.fit");
  ASSERT_TRUE(SaveFits(1, -32, file, false, false));
  ASSERT_TRUE(SaveFits(1, -32, file, false, false));
  auto count = [&] {
    int n = 0;
    for (const std::string& c : FileCards(test::ReadAll(file))) n += c.starts_with("COMMENT Bearbeitet mit Astrelon am ");
    return n;
  };
  EXPECT_EQ(count(), 1);
  FixedTime += 61;
  ASSERT_TRUE(SaveFits(1, -32, file, false, false));
  EXPECT_EQ(count(), 2);
  std::tm t{};
  localtime_r(&FixedTime, &t);
  char expect[128];
  std::snprintf(expect, sizeof expect, "COMMENT Bearbeitet mit Astrelon am %02d.%02d.%04d %02d:%02d:%02d", t.tm_mday,
                t.tm_mon + 1, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  EXPECT_NE(FindCard(FileCards(test::ReadAll(file)), expect), nullptr);
}

TEST_F(FitsWriterTest, RowOrderFollowsFitsFlip) {
  test::PutImage(1, 2, 3, 1, [](int, int, int y) { return float(y); });
  const std::string file = dir_.file("flip.fit");
  Options.FitsFlip = 0;
  ASSERT_TRUE(SaveFits(1, -32, file, false, false));
  const std::vector<unsigned char> b = test::ReadAll(file);
  EXPECT_EQ(b[2880], 0x40);  // 2.0f = 40000000: the last image row comes first
  // Read back with "Fits umdrehen" on, the image is upside down.
  Options.FitsFlip = 1;
  ASSERT_TRUE(LoadFits(2, file, false));
  EXPECT_EQ(Store.Image[2].At(1, 0, 0), 2.0f);
  EXPECT_EQ(Store.Image[2].At(1, 0, 2), 0.0f);
}

TEST_F(FitsWriterTest, AxisCardsFollowThePlanes) {
  // A colour image whose header still describes a grey one.
  test::PutImage(1, 3, 2, 1, [](int, int x, int) { return float(x); });
  test::PutImage(1, 3, 2, 3, [](int p, int x, int) { return float(x * p); });
  MakeDefaultHeader(1);
  Store.Header[1][2] = PadCard("NAXIS   =                    2");
  Store.Header[1].Cards.erase(Store.Header[1].Cards.begin() + 5, Store.Header[1].Cards.begin() + 7);
  Store.Image[1].ColorModel = CmYuv;
  const std::string file = dir_.file("axes.fit");
  ASSERT_TRUE(SaveFits(1, -32, file, false, false));
  std::vector<std::string> cards = FileCards(test::ReadAll(file));
  EXPECT_EQ(cards[2], PadCard("NAXIS   =                    3"));
  EXPECT_EQ(cards[5], PadCard("NAXIS3  =                    3"));
  EXPECT_EQ(cards[6], PadCard("CTYPE3  = 'YUV     '"));
  EXPECT_EQ(test::ReadAll(file).size(), 2880u * 2);
  // A grey image whose header has NAXIS3 in the wrong place: rebuilt in order.
  test::PutImage(1, 3, 2, 1, [](int, int x, int) { return float(x); });
  Store.Header[1].InsertAt(1, "NAXIS3  =                    3 / stale");
  ASSERT_TRUE(SaveFits(1, -32, file, false, false));
  cards = FileCards(test::ReadAll(file));
  EXPECT_EQ(cards[2], PadCard("NAXIS   =                    2"));
  EXPECT_EQ(FindCard(cards, "NAXIS3"), nullptr);
  const test::TCfitsImage cf = test::ReadWithCfitsio(file);
  EXPECT_EQ(cf.Error, "");
  EXPECT_EQ(cf.Naxis, 2);
}

TEST_F(FitsWriterTest, DisplayAndDarkCards) {
  test::PutImage(1, 4, 4, 1, [](int, int x, int y) { return float(x * y); });
  TDisplayRecord& d = Store.Display[1];
  d.Black = 1;
  d.White = 7;
  d.Gamma = 1.5f;
  Store.Image[1].DarkRms = 2.25;
  const std::string file = dir_.file("disp.fit");
  ASSERT_TRUE(SaveFits(1, -32, file, true, false));
  std::vector<std::string> cards = FileCards(test::ReadAll(file));
  EXPECT_EQ(*FindCard(cards, "COMMENT QZHistPar"), PadCard("COMMENT QZHistPar Min        1 Max        7 Gam 1.50 Typ 1"));
  EXPECT_NE(FindCard(cards, "COMMENT QZHP3 1"), nullptr);
  EXPECT_EQ(*FindCard(cards, "COMMENT MDarkRMS"), PadCard("COMMENT MDarkRMS 2.2500000000000E+00"));
  ASSERT_TRUE(LoadFits(2, file, false));
  EXPECT_EQ(Store.Display[2].Black, 1.0f);
  EXPECT_EQ(Store.Display[2].White, 7.0f);
  EXPECT_NEAR(Store.Display[2].Gamma, 1.5f, 1e-4);
  EXPECT_EQ(Store.Image[2].DarkRms, 2.25);
  // Without display cards both go (a QZHP3 card left behind would set the
  // display on reading), and the file read back gets the automatic range.
  ASSERT_TRUE(SaveFits(1, -32, file, false, false));
  cards = FileCards(test::ReadAll(file));
  EXPECT_EQ(FindCard(cards, "COMMENT QZHistPar"), nullptr);
  EXPECT_EQ(FindCard(cards, "COMMENT QZHP3"), nullptr);
  ASSERT_TRUE(LoadFits(2, file, false));
  SetAutoDisplayRange(1, false);
  EXPECT_EQ(Store.Display[2].Black, Store.Display[1].Black);
  EXPECT_EQ(Store.Display[2].White, Store.Display[1].White);
}

TEST_F(FitsWriterTest, DynamicRangeQuestion) {
  // One bright pixel on a smooth background: a range far beyond the noise.
  test::PutImage(1, 64, 64, 1, [](int, int x, int y) { return x == 10 && y == 10 ? 1e6f : 0.0f; });
  const std::string file = dir_.file("dyn.fit");
  ASSERT_TRUE(SaveFits(1, 16, file, false, true));
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_TRUE(ui_.Messages[0].starts_with("Die Bilddynamik ist sehr gro"));
  EXPECT_EQ(test::ReadWithCfitsio(file).Bitpix, 16);  // answered No
  ui_.DefaultAnswer = TDialogAnswer::Yes;
  ASSERT_TRUE(SaveFits(1, 16, file, false, true));
  EXPECT_EQ(test::ReadWithCfitsio(file).Bitpix, 32);
  // Not asked for float files or when the caller does not want it.
  ui_.Messages.clear();
  ASSERT_TRUE(SaveFits(1, -32, file, false, true));
  ASSERT_TRUE(SaveFits(1, 16, file, false, false));
  EXPECT_TRUE(ui_.Messages.empty());
}

TEST_F(FitsWriterTest, FailedWriteLeavesEverythingAsItWas) {
  test::PutImage(1, 200, 200, 1, [](int, int x, int y) { return float(x + y); });
  const std::string file = dir_.file("old.fit");
  test::WriteText(file, "old content");
  Store.FileName[1] = "image.fit";
  const std::vector<std::string> cards = Store.Header[1].ActiveCards();
  // A folder that does not exist.
  EXPECT_FALSE(SaveFits(1, 16, dir_.file("missing/new.fit"), true, false));
  EXPECT_EQ(Store.FileName[1], "image.fit");
  EXPECT_EQ(Store.Header[1].ActiveCards(), cards);
  // A write that fails half way (file size limit): the old file stays.
  auto failHalfWay = [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{20000, 20000};
    setrlimit(RLIMIT_FSIZE, &lim);
    const bool saved = SaveFits(1, 16, file, true, false);
    const bool intact = test::ReadAll(file) == std::vector<unsigned char>{'o', 'l', 'd', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't'};
    const bool onlyOld = std::distance(std::filesystem::directory_iterator(dir_.path()),
                                       std::filesystem::directory_iterator()) == 1;
    return !saved && intact && onlyOld && Store.FileName[1] == "image.fit" && Store.Header[1].ActiveCards() == cards;
  };
  EXPECT_EXIT(std::exit(failHalfWay() ? 0 : 1), testing::ExitedWithCode(0), "");
}

// A file system that fills up while the workers write into the mapped file:
// the save fails and leaves the old file, and no worker meets a fault. Run in
// a child with a mount namespace and a tmpfs of 2 MB of its own.
TEST_F(FitsWriterTest, FileSystemFullUnderTheWorkersFailsTheSaveWithoutAFault) {
  test::PutImage(1, 1024, 1024, 1, [](int, int x, int y) { return float(x ^ y); });
  const std::string folder = dir_.file("small");
  std::filesystem::create_directory(folder);
  const pid_t pid = fork();
  if (pid == 0) {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWNS) != 0) {
      // Without the right to mount: a user namespace of our own grants it.
      if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) _exit(2);
      test::WriteText("/proc/self/setgroups", "deny");
      test::WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
      test::WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    // Mounts stay in this namespace.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("none", folder.c_str(), "tmpfs", 0, "size=2m") != 0)
      _exit(2);
    const std::string file = folder + "/dark.fit";
    test::WriteText(file, "old content");
    Options.Multicore = 1;
    const bool saved = SaveFits(1, -32, file, false, false);
    const auto left = test::ReadAll(file);
    const bool intact = std::string(left.begin(), left.end()) == "old content";
    const bool onlyOld = std::distance(std::filesystem::directory_iterator(folder),
                                       std::filesystem::directory_iterator()) == 1;
    _exit(!saved && intact && onlyOld ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_FALSE(WIFSIGNALED(status)) << "signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "no tmpfs of its own to be had";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace astrelon
