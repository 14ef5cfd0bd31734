// Shift lists: the number format, round trips of the three modes, numbered
// names instead of overwriting, and refused files.
#include "batch/inputs/shift_list_file.h"

#include <filesystem>

#include "batch/inputs/series_file_list.h"
#include "common/engine_ui.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

TShiftListFile Sample(int32_t mode) {
  TShiftListFile list;
  list.Mode = mode;
  list.Names = {"/data/Bilder März/Bild 0001.fit", "/data/Bilder März/Bild 0002.fit", "/data/ä ö ü/ß.fit"};
  list.Qualities = {12.5f, -3.25e-7f, 987654.3f};
  if (mode == 3) {
    list.MarkPairs = {{{1.5f, 2.25f, 1.5f, 2.25f}, {100.125f, -7.0f, 101.0f, -6.5f}, {3e-5f, 4e4f, 5.5f, 6.5f}},
                      {},
                      {{-1.0f, 2.0f, 3.0f, -4.0f}}};
  } else {
    list.StarPairs = {{1, 2, 3, 4, 5, 6, 7, 8}, {123.456f, -0.001f, 0, 0, 1e-30f, 2e30f, 9, 10}, {}};
    if (mode == 1)
      for (TStarPair& s : list.StarPairs) s[2] = s[3] = s[6] = s[7] = 0;  // mode 1 keeps one star
  }
  return list;
}

void ExpectSame(const TShiftListFile& a, const TShiftListFile& b) {
  EXPECT_EQ(a.Mode, b.Mode);
  EXPECT_EQ(a.Names, b.Names);
  EXPECT_EQ(a.Qualities, b.Qualities);
  EXPECT_EQ(a.StarPairs, b.StarPairs);
  ASSERT_EQ(a.MarkPairs.size(), b.MarkPairs.size());
  for (size_t i = 0; i < a.MarkPairs.size(); ++i) {
    ASSERT_EQ(a.MarkPairs[i].size(), b.MarkPairs[i].size());
    for (size_t k = 0; k < a.MarkPairs[i].size(); ++k) {
      const TMarkPair &p = a.MarkPairs[i][k], &q = b.MarkPairs[i][k];
      EXPECT_TRUE(p.Xa == q.Xa && p.Ya == q.Ya && p.Xb == q.Xb && p.Yb == q.Yb) << i << "," << k;
    }
  }
}

TEST(ShiftListFile, NumbersInExponentFormatPaddedToTwentyTwo) {
  TShiftListFile list;
  list.Names = {"a"};
  list.StarPairs = {{float(123.45678901234), 0, 0, 0, -5, 0, 0, 0}};
  list.Qualities = {1.01f};
  std::string text, error;
  ASSERT_TRUE(FormatShiftList(list, text, error));
  // Floats keep 7 digits of 123.45678901234; the format shows 14.
  EXPECT_EQ(text,
            "1\r\n1\r\na\r\n1.2345678710938E+02   -5.0000000000000E+00\r\n"
            "0.0000000000000E+00   0.0000000000000E+00\r\n1.0099999904633E+00\r\n");
  EXPECT_EQ(CoordinateLine(123.45678901234, -5), "1.2345678901234E+02   -5.0000000000000E+00");
  EXPECT_EQ(CoordinateLine(-1.5e-300, 2), "-1.5000000000000E-300 2.0000000000000E+00");
  EXPECT_EQ(ShiftListFileName("/d/", 3, 120), "/d/VList_3Stars_120files.qvl");
  // A name with a line break cannot be written.
  list.Names = {"a\nb"};
  EXPECT_FALSE(FormatShiftList(list, text, error));
  EXPECT_FALSE(error.empty());
}

TEST(ShiftListFile, EveryModeReadsBackExactlyAndNothingIsOverwritten) {
  TempDir dir;
  for (int32_t mode : {1, 2, 3}) {
    SCOPED_TRACE(mode);
    const TShiftListFile list = Sample(mode);
    const std::string name = ShiftListFileName(dir.path().string() + "/", mode, list.Count());
    std::string error;
    EXPECT_EQ(VerschiebungslisteSpeichern(name, list, error), name);
    const std::string second = VerschiebungslisteSpeichern(name, list, error);
    EXPECT_EQ(second, dir.file("VList_" + std::to_string(mode) + "Stars_3files_2.qvl"));
    for (const std::string& file : {name, second}) {
      TShiftListFile read;
      ASSERT_TRUE(ReadShiftListFile(file, read, error)) << error;
      ExpectSame(read, list);
    }
    const std::vector<unsigned char> bytes = ReadAll(name);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "3\r\n" + std::to_string(mode) + "\r\n");
  }
}

TEST(ShiftListFile, RunListGoesThroughTheRunArrays) {
  ClearRunFiles();
  InstallRunShiftList(Sample(3));
  EXPECT_EQ(SeriesFileList.size(), 3u);
  EXPECT_EQ(BatchMarkPairs.size(), 3u);
  TShiftListFile again = RunShiftList(3);
  ExpectSame(again, Sample(3));
  RaiseReferenceQuality(again);
  EXPECT_EQ(again.Qualities[0], 1.01f * again.Qualities[1]);
  // Records that the run lacks are written as zeros.
  BatchQualities.clear();
  EXPECT_EQ(RunShiftList(2).Qualities, std::vector<float>(3, 0.0f));
  ClearRunFiles();
}

TEST(ShiftListFile, MalformedListsAreRefusedAndLeaveTheListAlone) {
  const std::string pair = "1.0000000000000E+00   2.0000000000000E+00\r\n";
  const std::string q = "5.0000000000000E+00\r\n";
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"no images", "0\r\n1\r\n"},
      {"negative count", "-3\r\n1\r\n"},
      {"more images than lines", "2\r\n1\r\na\r\n" + pair + pair + q},
      {"too many images", "5000\r\n3\r\n" + std::string(5000 * 7, '\n')},
      {"mode 0", "1\r\n0\r\na\r\n" + pair + pair + q},
      {"mode 4", "1\r\n4\r\na\r\n" + pair + pair + q},
      {"negative pair count", "1\r\n3\r\na\r\n-1\r\n" + q},
      {"pairs beyond the file", "1\r\n3\r\na\r\n2\r\n" + pair + pair + q},
      {"too many pairs", "1\r\n3\r\na\r\n257\r\n" + q},
      {"missing quality", "2\r\n1\r\na\r\n" + pair + pair + q + "b\r\n" + pair + pair + pair},
      {"text for a number", "1\r\n1\r\na\r\n" + pair + "x.0000000000000E+00   2.0000000000000E+00\r\n" + q},
      {"second number missing", "1\r\n1\r\na\r\n" + pair + "1.0000000000000E+00\r\n" + q},
      {"quality too large", "1\r\n1\r\na\r\n" + pair + pair + "1.0000000000001E+06\r\n"},
      {"quality negative too large", "1\r\n1\r\na\r\n" + pair + pair + "-2.0E+06\r\n"},
      {"quality not a number", "1\r\n1\r\na\r\n" + pair + pair + "NAN\r\n"},
      {"coordinate beyond float", "1\r\n1\r\na\r\n" + pair + "1.0E+39               2.0E+00\r\n" + q},
      {"count not a number", "x\r\n1\r\n"},
      {"garbage", std::string("\x00\xff\x13\x37\r\n\x80\x81", 8)},
  };
  TempDir dir;
  for (const auto& [what, text] : cases) {
    SCOPED_TRACE(what);
    TShiftListFile list = Sample(2);
    std::string error;
    EXPECT_FALSE(ParseShiftList(text, list, error));
    EXPECT_FALSE(error.empty());
    ExpectSame(list, Sample(2));
    WriteText(dir.file("bad.qvl"), text);
    EXPECT_FALSE(ReadShiftListFile(dir.file("bad.qvl"), list, error));
  }
  TShiftListFile list;
  std::string error;
  EXPECT_FALSE(ReadShiftListFile(dir.file("none.qvl"), list, error));
  EXPECT_FALSE(ReadShiftListFile(dir.path().string(), list, error));
  // A list read with LF line ends, and a decimal comma, is accepted.
  ASSERT_TRUE(ParseShiftList("1\n1\na\n1,5E+00               2.0E+00\n" + pair + "7\n", list, error)) << error;
  EXPECT_EQ(list.StarPairs[0][0], 1.5f);
  EXPECT_EQ(list.Qualities[0], 7.0f);
}

TEST(ShiftListFile, EveryTruncationOfAListIsRefused) {
  std::string text, error;
  ASSERT_TRUE(FormatShiftList(Sample(3), text, error));
  // Cutting anywhere before the last line leaves lines missing.
  const size_t lastLine = text.rfind("\r\n", text.size() - 3) + 2;
  for (size_t n = 0; n < lastLine; ++n) {
    TShiftListFile list;
    EXPECT_FALSE(ParseShiftList(text.substr(0, n), list, error)) << n;
  }
}

}  // namespace
}  // namespace astrelon::test
