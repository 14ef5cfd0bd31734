// Keeping the best images of a shift list: the threshold search, the answers
// that keep everything, and loading a list into the run.
#include "batch/inputs/shift_list_selection.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "batch/inputs/series_file_list.h"
#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

TShiftListFile WithQualities(const std::vector<float>& qualities) {
  TShiftListFile list;
  list.Mode = 1;
  for (size_t i = 0; i < qualities.size(); ++i) {
    list.Names.push_back("/d/img" + std::to_string(i + 1) + ".fit");
    list.StarPairs.push_back({float(i), 0, 0, 0, float(i), 0, 0, 0});
  }
  list.Qualities = qualities;
  return list;
}

TEST(ShiftListSelection, HalfOfTenQualitiesKeepsTheBestFive) {
  const std::vector<float> q{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const double t = ShiftListThreshold(q, 5);
  EXPECT_LT(t, 6.0);
  EXPECT_GT(t, 5.99);  // just below 6
  TShiftListFile list = WithQualities(q);
  EXPECT_TRUE(SelectBestImages(list, "50"));  // the reference (quality 1) is dropped
  EXPECT_EQ(list.Names,
            (std::vector<std::string>{"/d/img6.fit", "/d/img7.fit", "/d/img8.fit", "/d/img9.fit", "/d/img10.fit"}));
  EXPECT_EQ(list.Qualities, (std::vector<float>{6, 7, 8, 9, 10}));
  EXPECT_EQ(list.StarPairs.front()[0], 5.0f);
  EXPECT_EQ(list.Count(), 5);
}

TEST(ShiftListSelection, AnswersThatKeepEveryImage) {
  for (const char* answer : {"100", "0", "x", "-5", "150", "", "50%"}) {
    TShiftListFile list = WithQualities({3, 1, 2, 5});
    EXPECT_FALSE(SelectBestImages(list, answer)) << answer;
    EXPECT_EQ(list.Count(), 4) << answer;
  }
  // "12,5" is a percentage with a decimal comma: 12.5 % of 8 is one image.
  TShiftListFile list = WithQualities({3, 1, 2, 5, 4, 0.5f, 0.7f, 0.9f});
  EXPECT_TRUE(SelectBestImages(list, "12,5"));
  EXPECT_EQ(list.Qualities, std::vector<float>{5});
}

TEST(ShiftListSelection, SearchEndsForAnyQualities) {
  // A tiny share still keeps the best image; equal qualities keep their group.
  TShiftListFile list = WithQualities({7, 3, 9, 1});
  EXPECT_TRUE(SelectBestImages(list, "1"));
  EXPECT_EQ(list.Qualities, std::vector<float>{9});
  list = WithQualities({1, 1, 1, 1, 2, 2, 2, 2});
  EXPECT_TRUE(SelectBestImages(list, "50"));
  EXPECT_EQ(list.Qualities, std::vector<float>(4, 2));
  // Qualities far from the start value 0.5, either way.
  list = WithQualities({-1e6f, 1e6f, 0, -999999, 999999.5f, 3});
  EXPECT_TRUE(SelectBestImages(list, "34"));
  EXPECT_EQ(list.Qualities, (std::vector<float>{1e6f, 999999.5f}));
  list = WithQualities({-5e5f, -4e5f, -3e5f, -2e5f});
  EXPECT_TRUE(SelectBestImages(list, "50"));
  EXPECT_EQ(list.Qualities, (std::vector<float>{-3e5f, -2e5f}));
}

// The kept images are the fewest best ones that reach the share: every image
// whose quality is at least the target-th best, tied ones included, never none.
TEST(ShiftListSelection, TiedQualitiesAtTheThresholdAreKept) {
  struct Case {
    std::vector<float> qualities;
    const char* share;
    std::vector<float> kept;
  } cases[] = {
      {{5, 5, 4, 3}, "37", {5, 5}},
      {{4, 4, 4, 4}, "1", {4, 4, 4, 4}},
      {{4, 4, 4, 4}, "99", {4, 4, 4, 4}},
      {{2, 7, 7, 1, 7}, "20", {7, 7, 7}},
  };
  for (const Case& c : cases) {
    TShiftListFile list = WithQualities(c.qualities);
    SelectBestImages(list, c.share);
    EXPECT_EQ(list.Qualities, c.kept) << c.share << " of " << ::testing::PrintToString(c.qualities);
    EXPECT_EQ(list.Names.size(), c.kept.size());
  }
  // Qualities that are no numbers select nothing: the list stays whole and says so.
  TShiftListFile list = WithQualities({NAN, NAN, NAN});
  bool none = false;
  EXPECT_FALSE(SelectBestImages(list, "50", &none));
  EXPECT_TRUE(none);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(NoneSelectedText(3),
            "Nach der Qualität konnten keine Bilder ausgewählt werden, es werden alle 3 Bilder der Liste verwendet.");
  // Every share of lists with many ties, against the rule above.
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 300; ++round) {
    const size_t n = 3 + next() % 9;
    std::vector<float> q(n);
    for (float& v : q) v = float(next() % 4) * 0.25f + (next() % 3 == 0 ? 100.0f : 0.0f);
    for (int share = 1; share < 100; share += 7) {
      const int64_t target = std::clamp<int64_t>(Round(double(n) * share * 0.01), 1, int64_t(n));
      std::vector<float> sorted = q;
      std::sort(sorted.begin(), sorted.end(), std::greater<float>());
      const float least = sorted[size_t(target - 1)];
      std::vector<float> expected;
      for (const float v : q)
        if (v >= least) expected.push_back(v);
      TShiftListFile list = WithQualities(q);
      SelectBestImages(list, std::to_string(share));
      ASSERT_EQ(list.Qualities, expected) << share << " of " << ::testing::PrintToString(q);
    }
  }
}

class AnsweringUi : public TEngineUi {
public:
  std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& value) override {
    asked.push_back(caption + "|" + prompt + "|" + value);
    return answer;
  }
  std::string answer = "50";
  std::vector<std::string> asked;
};

TEST(ShiftListSelection, LoadingAsksForTheShareAndFillsTheRun) {
  TempDir dir;
  AnsweringUi ui;
  SetEngineUi(&ui);
  ClearRunFiles();
  std::string error;
  const std::string name = dir.file("list.qvl");
  ASSERT_EQ(VerschiebungslisteSpeichern(name, WithQualities({8.5f, 4, 1, 9}), error), name);
  TShiftListLoad load = LoadShiftList(name);
  EXPECT_TRUE(load.Loaded);
  EXPECT_EQ(load.Mode, 1);
  EXPECT_EQ(load.Count, 2);
  EXPECT_FALSE(load.ReferenceDropped);
  ASSERT_EQ(ui.asked.size(), 1u);
  EXPECT_EQ(ui.asked[0], "Wieviele Bilder|...sollen verwendet werden? (Prozentangabe!)|100");
  EXPECT_EQ(SeriesFileList, (std::vector<std::string>{"/d/img1.fit", "/d/img4.fit"}));
  EXPECT_EQ(BatchQualities, (std::vector<float>{8.5f, 9}));
  EXPECT_EQ(BatchStarPairs.size(), 2u);
  // Two images: nothing is asked.
  ASSERT_FALSE(VerschiebungslisteSpeichern(dir.file("two.qvl"), WithQualities({4, 8}), error).empty());
  EXPECT_EQ(LoadShiftList(dir.file("two.qvl")).Count, 2);
  EXPECT_EQ(ui.asked.size(), 1u);
  // A bad file: a message and the run's list as it was.
  WriteText(dir.file("bad.qvl"), "3\r\n7\r\n");
  load = LoadShiftList(dir.file("bad.qvl"));
  EXPECT_FALSE(load.Loaded);
  EXPECT_EQ(ui.Messages.size(), 1u);
  EXPECT_EQ(SeriesFileList.size(), 2u);
  ClearRunFiles();
  SetEngineUi(nullptr);
}

}  // namespace
}  // namespace astrelon::test
