// The star check's running threshold, the prompt texts and the comet's
// motion from two marked images.
#include <cmath>

#include "batch/align/comet_motion.h"
#include "batch/align/comet_offset.h"
#include "batch/align/prompt_texts.h"
#include "batch/align/star_check.h"
#include "batch_fixture.h"
#include "scripted_ui.h"

namespace astrelon::test {
namespace {

class StarCheckTest : public BatchTest {
protected:
  void SetUp() override {
    BatchTest::SetUp();
    BatchRun.StarTolerance = 2.0f;
    BatchRun.StarToleranceAfterCheck = 2.5f;
    BatchRun.ReportProblems = false;
    BatchRun.CheckStars = false;
    ResetQualityStatistics();
  }
};

TEST_F(StarCheckTest, ThresholdFollowsTheQualitiesFromTheThird) {
  EXPECT_TRUE(CheckQuality(10));
  EXPECT_FLOAT_EQ(BatchRun.StarTolerance, 2.0f);
  EXPECT_TRUE(CheckQuality(12));
  EXPECT_FLOAT_EQ(BatchRun.StarTolerance, 2.0f);
  EXPECT_TRUE(CheckQuality(14));
  EXPECT_NEAR(BatchRun.StarTolerance, 12 - 2.5 * std::sqrt(0.0001 + 8.0 / 3), 1e-4);
  EXPECT_NEAR(BatchRun.StarTolerance, 7.917, 1e-3);
  // 50 and more (nothing limited the match) does not count.
  EXPECT_FALSE(CheckQuality(99));
  EXPECT_EQ(BatchRun.QualityCount, 3.0f);
}

TEST_F(StarCheckTest, PoorQualityBringsThePromptBackOnlyWithReports) {
  struct Case {
    bool reports;
    float quality;
    bool check, counted;
  } cases[] = {{false, 1.0f, false, true}, {true, 1.0f, true, false}, {true, 3.0f, false, true}};
  for (const Case& c : cases) {
    SetUp();
    BatchRun.ReportProblems = c.reports;
    BatchRun.DirectMarks = true;
    EXPECT_EQ(CheckQuality(c.quality), c.counted) << c.quality;
    EXPECT_EQ(BatchRun.CheckStars, c.check) << c.quality;
    EXPECT_FALSE(BatchRun.DirectMarks);
  }
}

TEST_F(StarCheckTest, PromptTexts) {
  const std::string mark = " und klicken danach auf \"Ok, weiter\"!";
  const std::string confirm = " markiert? Wenn nein, dann bitte korrigieren und danach auf \"Ok, weiter\" klicken.";
  struct Case {
    int marks;
    TMarkKind kind;
    const char* first;
    const char* confirm;
  } cases[] = {
      {1, TMarkKind::Stars, "Markieren Sie einen Stern", "Ist der richtige Stern"},
      {2, TMarkKind::Stars, "Markieren Sie 2 Sterne", "Sind die richtigen Sterne"},
      {1, TMarkKind::Areas, "Markieren Sie einen Bereich", "Ist der richtige Bereich"},
      {2, TMarkKind::Areas, "Markieren Sie 2 Bereiche", "Sind die richtigen Bereiche"},
      {1, TMarkKind::Planet, "Markieren Sie den Planeten", "Ist der Planet richtig"},
      {3, TMarkKind::Stars, "Markieren Sie mindestens 3 Sterne", "Sind die richtigen Sterne"},
      {3, TMarkKind::Areas, "Markieren Sie mindestens 3 Bereiche", "Sind die richtigen Bereiche"},
      {3, TMarkKind::Planet, "Markieren Sie mindestens 3 Bereiche", "Sind die richtigen Bereiche"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FirstImagePrompt(c.marks, c.kind), c.first + mark);
    EXPECT_EQ(ConfirmPrompt(c.marks, c.kind), c.confirm + confirm);
  }
  EXPECT_EQ(DirectMarkPrompt(1), "Markieren Sie den Stern" + mark);
  EXPECT_EQ(DirectMarkPrompt(2), "Markieren Sie die 2 Sterne" + mark);
  EXPECT_EQ(CometPrompt(),
            "Markieren Sie jetzt den Komet/Asteroid und klicken danach auf \"Ok, weiter\". Direkte Markierung (+) "
            "wenn er zu lichtschwach ist.");
}

// Comet positions C1 = (100, 50) in image 1 (series 1, time 0) and, in
// image 5, C2 found after the stars moved by A - B.
TCometMotionInput CometPair() {
  TCometMotionInput in;
  in.C1 = {100, 50};
  in.A = {TFloatPoint{10, 10}, TFloatPoint{90, 10}};
  in.B = {TFloatPoint{13, 8}, TFloatPoint{93, 8}};  // stars moved by (3, -2)
  in.C2 = {100 - 16 + 3, 50 + 8 - 2};                // comet moved by (-16, 8) besides
  in.Series1 = 1;
  in.Series2 = 5;
  in.Time1 = 0;
  in.Time2 = 4 * 2.0 / 1440;  // 2 minutes per frame
  return in;
}

TEST(CometMotionTest, OneAndTwoMarksGiveMotionPerFrameAndPerMinute) {
  for (int marks : {1, 2}) {
    TCometMotionInput in = CometPair();
    in.Marks = marks;
    const TCometMotion m = ComputeCometMotion(in);
    ASSERT_TRUE(m.Valid) << marks;
    // 4 px per frame at 2 minutes per frame: 2 px per minute.
    EXPECT_NEAR(m.PerFrameX, 4, 1e-4) << marks;
    EXPECT_NEAR(m.PerFrameY, -2, 1e-4) << marks;
    EXPECT_NEAR(m.PerMinuteX, 2, 1e-4) << marks;
    EXPECT_NEAR(m.PerMinuteY, -1, 1e-4) << marks;
    in.ByTimestamp = true;
    const TCometMotion t = ComputeCometMotion(in);
    ASSERT_TRUE(t.Valid);
    EXPECT_NEAR(t.PerMinuteX, 2, 1e-4);
    EXPECT_NEAR(t.PerFrameX, 4, 1e-4);
  }
}

TEST(CometMotionTest, TwoMarksUndoRotationAndScale) {
  // The second image is the first turned by 90 degrees about A1 and scaled 2x.
  TCometMotionInput in;
  in.Marks = 2;
  in.A = {TFloatPoint{0, 0}, TFloatPoint{10, 0}};
  in.B = {TFloatPoint{0, 0}, TFloatPoint{0, 20}};
  in.C1 = {7, 3};
  in.C2 = {-2 * 3.0f, 2 * 5.0f};  // the comet at (5, 3) in the first image's frame
  in.Series1 = 1;
  in.Series2 = 2;
  const TCometMotion m = ComputeCometMotion(in);
  ASSERT_TRUE(m.Valid);
  EXPECT_NEAR(m.PerFrameX, 2, 1e-4);
  EXPECT_NEAR(m.PerFrameY, 0, 1e-4);
}

TEST(CometOffsetTest, BySeriesByTimeOrStepByStep) {
  struct Case {
    TCometOffsetInput in;
    float startX, startY;
    float x, y;
  } cases[] = {
      // (2, -1) per series image, series 5 against 1.
      {{false, -1, 0, 5, 1, 2, -1, false}, 0, 0, 8, -4},
      // 0.01 day at 0.5 px per minute.
      {{true, 2.51, 2.5, 5, 1, 0.5, 0, false}, 0, 0, 7.2f, 0},
      // By time stamp without a time: the series numbers.
      {{true, -1, 2.5, 3, 1, 0.5, 1, false}, 0, 0, 1, 2},
      // Unknown series numbers: one more step per image, none for the first.
      {{false, -1, 0, -1, 1, 2, -1, false}, 4, -2, 6, -3},
      {{false, -1, 0, -1, 1, 2, -1, true}, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    float x = c.startX, y = c.startY;
    CometOffset(c.in, x, y);
    EXPECT_NEAR(x, c.x, 1e-3);
    EXPECT_NEAR(y, c.y, 1e-3);
  }
}

TEST(CometMotionTest, EqualSeriesOrTimesGiveTheirMessages) {
  TScriptedUi ui;
  SetEngineUi(&ui);
  BatchRun.MarkCount = 1;
  BatchRun.CometSeriesA = BatchRun.CometSeriesB = 7;
  BatchRun.CometTimeA = BatchRun.CometTimeB = 1.5;
  BatchRun.CometValuesSet = false;
  BatchRun.ByTimestamp = false;
  EXPECT_FALSE(ApplyCometMotion().Valid);
  BatchRun.ByTimestamp = true;
  EXPECT_FALSE(ApplyCometMotion().Valid);
  ASSERT_EQ(ui.Messages.size(), 2u);
  EXPECT_EQ(ui.Messages[0], "Fehler, die Seriennummern der Bilder scheinen gleich zu sein!");
  EXPECT_EQ(ui.Messages[1], "Fehler, die Zeiten der Bilder scheinen gleich zu sein!");
  EXPECT_FALSE(BatchRun.CometValuesSet);
  // A valid pair sets the run's values.
  BatchRun.ByTimestamp = false;
  BatchRun.CometSeriesB = 9;
  BatchRun.CometPositionA = {10, 0};
  BatchRun.CometPositionB = {2, 0};
  BatchRun.CometStarPointsA = {};
  BatchRun.CometStarPointsB = {};
  EXPECT_TRUE(ApplyCometMotion().Valid);
  EXPECT_TRUE(BatchRun.CometValuesSet);
  EXPECT_DOUBLE_EQ(BatchRun.CometPerFrameX, 4.0);
  BatchRun.ByTimestamp = false;
  SetEngineUi(nullptr);
}

}  // namespace
}  // namespace astrelon::test
