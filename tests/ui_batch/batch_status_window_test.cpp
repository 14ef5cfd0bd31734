// The batch status window: labels written by a stack combination, abort, pause
// and the check request, Esc and the shortened file name.
#include <QTest>

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_step_list.h"
#include "batch/ui/batch_status_window.h"
#include "core/batch_state.h"
#include "qt_test_app.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class BatchStatusWindowTest : public ::testing::Test {
protected:
  void TearDown() override {
    if (BatchStatusWindowExists()) BatchStatusWindow().close();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    BatchAbort = 0;
    AbortRequested = 0;
    BatchRun.EndOfRun = false;
    BatchRun.CheckStars = false;
    BatchRun.CurrentStep = 1;
  }
};

TEST_F(BatchStatusWindowTest, WorkersWriteLabelsWhileTheWindowExists) {
  TForm10& form = BatchStatusWindow();
  ASSERT_EQ(BatchStatusLabels, &form);
  BatchStatusLabels->SetFunctionLabel("Median Funktion");
  BatchStatusLabels->SetProgressLabel("42 %");
  EXPECT_EQ(form.Label2->text(), "Median Funktion");
  EXPECT_EQ(form.Label4->text(), "42 %");
  form.close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(BatchStatusWindowExists());
  EXPECT_EQ(BatchStatusLabels, nullptr);
}

TEST_F(BatchStatusWindowTest, AnotherToolsRunAbortsByFlagsOnlyAndOkHides) {
  TForm10& form = BatchStatusWindow();
  form.StartRun(false);
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.Button3->isVisibleTo(&form));
  EXPECT_FALSE(form.Button2->isVisibleTo(&form));
  QTest::mouseClick(form.Button1, Qt::LeftButton);
  EXPECT_EQ(BatchAbort.load(), 1);
  EXPECT_EQ(AbortRequested.load(), 1);
  EXPECT_FALSE(BatchRun.EndOfRun);  // no batch run to end
  EXPECT_TRUE(form.isVisible());
  BatchAbort = 0;
  QTest::keyClick(&form, Qt::Key_Escape);
  EXPECT_EQ(BatchAbort.load(), 1);
  BatchAbort = 0;
  form.EndRun();
  EXPECT_EQ(form.Button1->text(), "&Ok");
  QTest::mouseClick(form.Button1, Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(BatchAbort.load(), 0);
}

TEST_F(BatchStatusWindowTest, TheBatchAbortActsAtThePressAndOnlyOnce) {
  BatchSteps.StepCount = 4;
  TForm10& form = BatchStatusWindow();
  form.StartRun(true);
  EXPECT_EQ(form.Button3->text(), "&Pause");
  QTest::mousePress(form.Button1, Qt::LeftButton);
  EXPECT_TRUE(BatchRun.EndOfRun);
  EXPECT_EQ(BatchRun.CurrentStep, 5);
  EXPECT_EQ(BatchAbort.load(), 1);
  // The click that follows does not abort again (a second abort hides the window).
  QTest::mouseRelease(form.Button1, Qt::LeftButton);
  EXPECT_TRUE(form.isVisible());
  QTest::mouseClick(form.Button1, Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  BatchSteps = TBatchStepList();
}

TEST_F(BatchStatusWindowTest, CheckRequestAtThePress) {
  TForm10& form = BatchStatusWindow();
  form.StartRun(true);
  form.Button2->show();
  QTest::mousePress(form.Button2, Qt::LeftButton);
  EXPECT_TRUE(BatchRun.CheckStars);
  EXPECT_FALSE(form.Button2->isVisibleTo(&form));
}

TEST_F(BatchStatusWindowTest, LongNamesAreCutFromTheLeft) {
  ShowStatusFileName("/a/b.fit");
  EXPECT_EQ(BatchStatusWindow().Label1->text(), "/a/b.fit");
  const std::string tail = "light_0001.fit";
  ShowStatusFileName("/very/long/folder/name/that/does/not/fit/into/the/label/at/all/" + tail);
  const QString shown = BatchStatusWindow().Label1->text();
  EXPECT_TRUE(shown.startsWith("...")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith(QString::fromStdString(tail)));
  const QFontMetrics metrics = BatchStatusWindow().Label1->fontMetrics();
  EXPECT_LE(metrics.horizontalAdvance(shown.mid(3)), 185);
  // One character more would not fit.
  const QString full = QString::fromStdString("/very/long/folder/name/that/does/not/fit/into/the/label/at/all/" + tail);
  EXPECT_GT(metrics.horizontalAdvance(full.right(shown.size() - 3 + 1)), 185);
}

}  // namespace
}  // namespace astrelon::test
