// The batch status window: labels written by a stack combination, the abort
// button, Esc and the shortened file name.
#include <QTest>

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

TEST_F(BatchStatusWindowTest, AbortButtonAndEscRaiseTheAbortFlagOkHides) {
  TForm10& form = BatchStatusWindow();
  form.show();
  QTest::mouseClick(form.Button1, Qt::LeftButton);
  EXPECT_EQ(BatchAbort.load(), 1);
  BatchAbort = 0;
  QTest::keyClick(&form, Qt::Key_Escape);
  EXPECT_EQ(BatchAbort.load(), 1);
  BatchAbort = 0;
  form.Button1->setText("&Ok");
  QTest::mouseClick(form.Button1, Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(BatchAbort.load(), 0);
}

TEST_F(BatchStatusWindowTest, LongNamesAreCutFromTheLeft) {
  ShowStatusFileName("/a/b.fit");
  EXPECT_EQ(BatchStatusWindow().Label1->text(), "/a/b.fit");
  const std::string tail = "light_0001.fit";
  ShowStatusFileName("/very/long/folder/name/that/does/not/fit/into/the/label/at/all/" + tail);
  const QString shown = BatchStatusWindow().Label1->text();
  EXPECT_TRUE(shown.startsWith("...")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith(QString::fromStdString(tail)));
  EXPECT_LE(BatchStatusWindow().Label1->fontMetrics().horizontalAdvance(shown.mid(3)), 185);
}

}  // namespace
}  // namespace astrelon::test
