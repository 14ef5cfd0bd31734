// The inputs of a batch run: numbered series with missing files, input lists,
// the files of a folder, video frames, and the run's name array.
#include "batch/inputs/series_file_list.h"

#include <filesystem>

#include "core/batch_series.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class SeriesInputs : public ::testing::Test {
protected:
  void SetUp() override {
    ClearRunFiles();
    SeriesFiles.Candidates.clear();
  }
  void TearDown() override { SetUp(); }
  void Touch(const std::string& name) { WriteText(dir_.file(name), "x"); }
  TInputSeries Inputs(TInputMode mode, int32_t frames = 0, bool shiftList = false, const std::string& folder = "") {
    TInputSeries s;
    s.Mode = mode;
    s.VideoFrames = frames;
    s.UseShiftList = shiftList;
    s.StartFolder = folder;
    return s;
  }

  // Every input that follows `name` until none does.
  std::vector<std::string> Walk(const TInputSeries& input, std::string name, int32_t frame = 0) {
    std::vector<std::string> names;
    int32_t position = 0;
    while (NextInputFileName(input, position, frame, name)) {
      names.push_back(name);
      if (names.size() > 5000) break;
    }
    EXPECT_EQ(name, "");
    return names;
  }
  TempDir dir_;
};

TEST_F(SeriesInputs, SeriesSkipsMissingFilesOnlyWhenAsked) {
  for (const char* n : {"Bild0001.fit", "Bild0002.fit", "Bild0005.fit", "Bild0009.fit", "Bild0010.fit"}) Touch(n);
  TInputSeries series;
  EXPECT_EQ(Walk(series, dir_.file("Bild0001.fit")), std::vector<std::string>{dir_.file("Bild0002.fit")});
  series.SkipMissing = true;
  EXPECT_EQ(Walk(series, dir_.file("Bild0001.fit")),
            (std::vector<std::string>{dir_.file("Bild0002.fit"), dir_.file("Bild0005.fit"), dir_.file("Bild0009.fit"),
                                      dir_.file("Bild0010.fit")}));
  // A name without digits before the extension ends the series at once.
  Touch("Start.fit");
  EXPECT_TRUE(Walk(series, dir_.file("Start.fit")).empty());
  // A folder of the next number is no file.
  std::filesystem::create_directory(dir_.file("Bild0011.fit"));
  Touch("Bild0012.fit");
  series.SkipMissing = false;
  EXPECT_TRUE(Walk(series, dir_.file("Bild0010.fit")).empty());
}

TEST_F(SeriesInputs, ShiftListPassesOverFilesItDoesNotName) {
  for (int i = 1; i <= 400; ++i)
    Touch("s" + std::string(i < 10 ? "00" : i < 100 ? "0" : "") + std::to_string(i) + ".fit");
  SeriesFileList = {dir_.file("s001.fit"), dir_.file("S002.FIT"), dir_.file("s005.fit"), dir_.file("s390.fit")};
  const TInputSeries series = Inputs(TInputMode::Series, 0, true);
  // Files that exist but are not listed do not use up the tries for missing files.
  EXPECT_EQ(Walk(series, dir_.file("s001.fit")),
            (std::vector<std::string>{dir_.file("s002.fit"), dir_.file("s005.fit"), dir_.file("s390.fit")}));
  int32_t index = -1;
  EXPECT_TRUE(FindRunFileIndex(dir_.file("S005.FIT"), index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(FindRunFileIndex(dir_.file("s006.fit"), index));
}

TEST_F(SeriesInputs, InputListAndShiftListFilter) {
  std::string start = "  /x/Start.fit  ";
  BuildInputFileList(start, {"/x/start.FIT", "/x/b 1.fit", "", "/x/c.fit"});
  EXPECT_EQ(start, "/x/Start.fit");
  EXPECT_EQ(SeriesFiles.Candidates, (std::vector<std::string>{"/x/b 1.fit", "", "/x/c.fit"}));
  TInputSeries list = Inputs(TInputMode::List);
  // An empty entry ends the list.
  EXPECT_EQ(Walk(list, start), std::vector<std::string>{"/x/b 1.fit"});
  BuildInputFileList(start, {"/x/b.fit", "/x/c.fit", "/x/d.fit"});
  SeriesFileList = {"/x/start.fit", "/x/D.fit"};
  list.UseShiftList = true;
  EXPECT_EQ(Walk(list, start), std::vector<std::string>{"/x/d.fit"});
}

TEST_F(SeriesInputs, AllFilesOfTheFolderSortedWithoutStartTargetAndNonImages) {
  for (const char* n : {"start.fit", "ziel.fit", "b.FIT", "A.png", "c.txt", "z.TIF", "a10.fts", "noext"}) Touch(n);
  std::filesystem::create_directory(dir_.file("d.fit"));
  BuildAllFilesList(dir_.file("start.fit"), dir_.file("sub/../ZIEL.fit"));
  EXPECT_EQ(SeriesFiles.Candidates, (std::vector<std::string>{"A.png", "a10.fts", "b.FIT", "z.TIF"}));
  const TInputSeries all = Inputs(TInputMode::AllFiles, 0, false, dir_.path().string() + "/");
  EXPECT_EQ(Walk(all, dir_.file("start.fit")), (std::vector<std::string>{dir_.file("A.png"), dir_.file("a10.fts"),
                                                                         dir_.file("b.FIT"), dir_.file("z.TIF")}));
  BuildAllFilesList(dir_.file("gone/start.fit"), "");
  EXPECT_TRUE(SeriesFiles.Candidates.empty());
}

TEST_F(SeriesInputs, VideoFramesBeyondAThousand) {
  const TInputSeries video = Inputs(TInputMode::Video, 1200);
  const std::vector<std::string> names = Walk(video, "Frame0000", 0);
  ASSERT_EQ(names.size(), 1199u);
  EXPECT_EQ(names.front(), "Frame0001");
  EXPECT_EQ(names[998], "Frame0999");
  EXPECT_EQ(names[999], "Frame1000");
  EXPECT_EQ(names.back(), "Frame1199");
  EXPECT_EQ(VideoFrameName(12345), "Frame12345");
  // With a shift list only its frames.
  SeriesFileList = {"Frame0000", "Frame0007", "FRAME1100"};
  EXPECT_EQ(Walk(Inputs(TInputMode::Video, 1200, true), "Frame0000", 0),
            (std::vector<std::string>{"Frame0007", "Frame1100"}));
}

TEST_F(SeriesInputs, RunNameArrayTakesUpToItsSizeAndCountsTheRest) {
  for (int i = 0; i < MaxRunFiles; ++i) ASSERT_TRUE(AddRunFileName("f" + std::to_string(i)));
  EXPECT_FALSE(AddRunFileName("more"));
  EXPECT_FALSE(AddRunFileName("more"));
  EXPECT_EQ(SeriesFileList.size(), size_t(MaxRunFiles));
  EXPECT_EQ(SeriesFiles.LeftOut, 2);
  ClearRunFiles();
  EXPECT_TRUE(SeriesFileList.empty());
  EXPECT_EQ(SeriesFiles.LeftOut, 0);
}

}  // namespace
}  // namespace astrelon::test
