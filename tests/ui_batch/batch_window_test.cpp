// The batch window's step editor: the menu item, choosing operations, the
// add-to-target step's function, pages and marks, the resize and histogram
// steps, the drop list and comet timing.
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

#include "batch/steps/batch_text.h"
#include "batch_window_fixture.h"
#include "common/pascal_format.h"
#include "pixelops/mosaic/mosaic_settings_file.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/side_panel/star_panel.h"
#include "store/display/histogram_settings_file.h"
#include "store/fits/fits_writer.h"

namespace astrelon::test {
namespace {

TEST_F(BatchWindowTest, TheMenuItemOpensTheWindowAndTheFileMenuSeesIt) {
  EXPECT_TRUE(MenuCommandAvailable("Batchprocessing1"));
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
  ASSERT_TRUE(MainLink().BatchToolShown);
  EXPECT_TRUE(MainLink().BatchToolShown());
  // "&Abbruch" hides the window; its batch stays.
  form->Button4->click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(MainLink().BatchToolShown());
  EXPECT_EQ(BatchWindowForm(), form);
  EXPECT_EQ(form->Label1->text(), "1. Bearbeitungsschritt");
  EXPECT_EQ(form->Memo2->toPlainText().split('\n').first(), "1. DATEIEN FESTLEGEN");
}

TEST_F(BatchWindowTest, NothingFollowsAnAddToTheTargetOrTheSplitIntoThreeImages) {
  EXPECT_FALSE(form->qzDDButton1->isEnabled());  // the file step keeps its operation
  form->SButton2->click();
  EXPECT_TRUE(form->qzDDButton1->isEnabled());
  EXPECT_EQ(form->qzDDButton1->Caption(), "Funktion auswählen");
  EXPECT_FALSE(form->SButton2->isEnabled());  // no walking past an empty step
  MenuItem(4)->trigger();
  for (int op : {5, 6, 7}) NextStep(op);
  ASSERT_EQ(BatchSteps.EditorStep, 5);
  EXPECT_TRUE(form->SButton2->isEnabled());
  MenuItem(10)->trigger();
  EXPECT_EQ(BatchSteps.StepCount, 5);
  EXPECT_FALSE(form->SButton2->isEnabled());
  EXPECT_EQ(form->qzDDButton1->Caption(), "Zur Zieldatei addieren");
  EXPECT_TRUE(form->Memo2->toPlainText().contains("5. ZUR ZIELDATEI ADDIEREN"));
  form->SButton1->click();
  MenuItem(33)->trigger();
  EXPECT_FALSE(form->SButton2->isEnabled());
  // The blank item empties a step; an empty last step goes when the editor leaves it.
  MenuItem(-1)->trigger();
  EXPECT_EQ(BatchSteps.Ops[4], -1);
  form->SButton2->click();
  MenuItem(-1)->trigger();
  form->SButton1->click();
  EXPECT_EQ(BatchSteps.StepCount, 4);
  EXPECT_EQ(BatchSteps.EditorStep, 4);
}

TEST_F(BatchWindowTest, MedianMittelMedAndSigmaOnlyAsTheSecondStep) {
  NextStep(10);
  ClickItem(form->RadioGroup1, 1);  // the Swarp option needs marks
  form->CheckBox1->setChecked(true);
  ASSERT_FALSE(Shown().OptionCaption.empty());
  ClickItem(form->RadioGroup2, 5);
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_EQ(BatchRun.CombineMode, 5);
  EXPECT_TRUE(Shown().OptionCaption.empty());
  EXPECT_FALSE(form->CheckBox1->isVisibleTo(form));

  MenuItem(4)->trigger();
  NextStep(10);
  ClickItem(form->RadioGroup2, 5);
  ASSERT_EQ(ui.Messages.size(), 1u);
  EXPECT_EQ(ui.Messages[0],
            "Median, MitteM und Sigma müssen als 2.Bearbeitungsschritt folgen.\r\n"
            "Die Zwischenschritte müssen getrennt bearbeitet und Zwischengespeichert werden.");
  EXPECT_EQ(BatchRun.CombineMode, 0);
  EXPECT_EQ(form->RadioGroup2->ItemIndex(), 0);
}

TEST_F(BatchWindowTest, TheBayerPageWantsMarksAndABayerSensor) {
  NextStep(10);
  ClickItem(form->RadioGroup2, 2);
  form->PageControl1->setCurrentIndex(2);
  EXPECT_EQ(BatchWindow.Page, TAddTargetPage::BayerSpecial);
  EXPECT_EQ(Shown().MarksOrInterpolation, 1);  // the page brings one mark
  EXPECT_EQ(BatchRun.CombineMode, 0);
  EXPECT_FALSE(form->RadioGroup2->isVisibleTo(form));
  ClickItem(form->RadioGroup1, 0);
  ASSERT_EQ(ui.Messages.size(), 1u);
  EXPECT_EQ(ui.Messages[0], "Das macht nur mit Verschiebung einen Sinn.");
  EXPECT_EQ(Shown().MarksOrInterpolation, 1);
  EXPECT_EQ(form->RadioGroup1->ItemIndex(), 1);

  TMosaicSettings cmy;
  cmy.Cells = {McCyan, McMagenta, McYellow, McGreen, -1, -1, -1, -1};
  ASSERT_TRUE(WriteMosaicSettings(dir.file("cmy.qcm"), cmy));
  ASSERT_TRUE(WriteMosaicSettings(dir.file("rggb.qcm"), TMosaicSettings()));
  Chosen = {{QString::fromStdString(dir.file("cmy.qcm"))}};
  form->SpeedButtonf->click();
  EXPECT_EQ(ui.Messages.back(), "Es muss ein Sensor mit Bayerpattern sein!");
  EXPECT_EQ(BatchRun.MosaicFileName, "*.qcm");
  EXPECT_EQ(form->Edit7->text(), "*.qcm");
  Chosen = {{QString::fromStdString(dir.file("rggb.qcm"))}};
  form->SpeedButtonf->click();
  EXPECT_EQ(Asked.back(), TBatchBrowse::Mosaic);
  EXPECT_EQ(BatchRun.MosaicFileName, dir.file("rggb.qcm"));
  EXPECT_EQ(form->Edit7->text().toStdString(), dir.file("rggb.qcm"));
  form->Timer1Timer();
  EXPECT_TRUE(form->Memo1->toPlainText().contains(QString::fromStdString("Bayeripol   " + dir.file("rggb.qcm"))));
}

TEST_F(BatchWindowTest, DroppedImagesMakeTheSortedInputList) {
  const auto drop = [this](const QStringList& files) {
    auto* mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString& f : files) urls << QUrl::fromLocalFile(f);
    mime->setUrls(urls);
    QDropEvent e(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    // Delivered straight to the window, as from a drag that ended over it.
    static_cast<QObject*>(form)->event(&e);
    delete mime;
  };
  drop({"/x/notes.txt"});
  EXPECT_EQ(form->ListBox1->count(), 0);
  EXPECT_FALSE(BatchRun.InputList);
  EXPECT_FALSE(form->ListBox1->isVisibleTo(form));
  drop({"/x/b10.fit", "/x/b9.fit"});
  drop({"/x/B9.FIT", "/x/readme.txt"});
  ASSERT_EQ(BatchWindow.DropList, (std::vector<std::string>{"/x/b9.fit", "/x/b10.fit"}));
  EXPECT_TRUE(BatchRun.InputList);
  EXPECT_TRUE(form->ListBox1->isVisibleTo(form));
  EXPECT_FALSE(form->CheckBox3->isVisibleTo(form));
  // Delete removes the selection; an empty list is no longer the input.
  form->ListBox1->item(0)->setSelected(true);
  QTest::keyClick(form->ListBox1, Qt::Key_Delete);
  EXPECT_EQ(BatchWindow.DropList, (std::vector<std::string>{"/x/b10.fit"}));
  form->AlleDateienlschen1Click();
  EXPECT_TRUE(BatchWindow.DropList.empty());
  EXPECT_FALSE(BatchRun.InputList);
  EXPECT_FALSE(form->ListBox1->isVisibleTo(form));
  EXPECT_TRUE(form->CheckBox3->isVisibleTo(form));
}

TEST_F(BatchWindowTest, TheStartFileDecidesTheFileStepsBoxes) {
  form->CheckBox3->setChecked(true);
  ASSERT_TRUE(BatchWindow.AllFilesInFolder);
  EXPECT_FALSE(form->CheckBox1->isEnabled());
  Chosen = {{"/v/movie.AVI"}};
  form->SpeedButton1->click();
  EXPECT_EQ(Asked.back(), TBatchBrowse::Images);
  EXPECT_EQ(BatchSteps.Records[1].Values[0], "/v/movie.AVI");
  EXPECT_FALSE(form->CheckBox1->isVisibleTo(form));
  EXPECT_FALSE(form->CheckBox3->isVisibleTo(form));
  EXPECT_FALSE(BatchWindow.AllFilesInFolder);
  EXPECT_TRUE(BatchSteps.Records[1].OptionCaption.empty());
  Chosen = {{"/v/a0001.fit"}};
  form->SpeedButton1->click();
  EXPECT_EQ(Starts.back(), "/v/movie.AVI");
  EXPECT_TRUE(form->CheckBox1->isVisibleTo(form));
  EXPECT_TRUE(form->CheckBox3->isVisibleTo(form));
  // Several files make the input list, the first entry the start value.
  Chosen = {{"/v/c2.fit", "/v/c1.fit"}};
  form->SpeedButton1->click();
  EXPECT_TRUE(BatchRun.InputList);
  EXPECT_EQ(BatchSteps.Records[1].Values[0], "/v/c1.fit");
  EXPECT_EQ(form->ListBox1->count(), 2);
  EXPECT_FALSE(form->CheckBox1->isVisibleTo(form));
  // The target's own button.
  Chosen = {{"/o/sum.fit"}};
  form->SpeedButton3->click();
  EXPECT_EQ(Asked.back(), TBatchBrowse::Image);
  EXPECT_EQ(BatchSteps.Records[1].Values[1], "/o/sum.fit");
  EXPECT_EQ(form->ParamEdit[1]->text(), "/o/sum.fit");
}

TEST_F(BatchWindowTest, EditsAreStoredAtOnceAndTheTextFollowsAfterThePause) {
  NextStep(4);
  form->Timer1Timer();
  QTest::keyClicks(form->ParamEdit[0], "42");
  EXPECT_EQ(Shown().Values[0], "042");
  EXPECT_FALSE(form->Memo2->toPlainText().contains("042"));
  EXPECT_TRUE(form->Timer1->isActive());
  QTest::qWait(250);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_TRUE(form->Memo2->toPlainText().contains("Wert   042"));
}

TEST_F(BatchWindowTest, TheHistogramLimitsAreAutoTogetherAndReadFromAFileWithoutTouchingAnImage) {
  NextStep(34);
  QTest::keyClicks(form->ParamEdit[1], "a");
  EXPECT_EQ(form->ParamEdit[1]->text(), "auto");
  EXPECT_EQ(form->ParamEdit[2]->text(), "auto");
  EXPECT_EQ(Shown().Values[1], "auto");
  EXPECT_EQ(Shown().Values[2], "auto");

  MakeImage(1, 2, 2, {{0, 1, 2, 3}});
  TDisplayRecord d;
  d.Black = 12.5f;
  d.White = 3000.0f;
  const std::string qzh = dir.file("stretch.qzh");
  WriteText(qzh, FormatHistogramSettings(d));
  std::vector<std::pair<float, float>> before;
  for (const TDisplayRecord& r : Store.Display) before.emplace_back(r.Black, r.White);
  Chosen = {{QString::fromStdString(qzh)}};
  form->SpeedButton1->click();
  EXPECT_EQ(Asked.back(), TBatchBrowse::Histogram);
  EXPECT_EQ(Shown().Values[0], qzh);
  EXPECT_EQ(Shown().Values[1], "12.5");
  EXPECT_EQ(Shown().Values[2], "3000");
  EXPECT_EQ(form->ParamEdit[2]->text(), "3000");
  for (size_t s = 0; s < Store.Display.size(); ++s) {
    EXPECT_EQ(Store.Display[s].Black, before[s].first) << s;
    EXPECT_EQ(Store.Display[s].White, before[s].second) << s;
  }
  // A file that is no histogram setting leaves the step.
  WriteText(dir.file("bad.qzh"), "1.0\r\nx\r\n");
  Chosen = {{QString::fromStdString(dir.file("bad.qzh"))}};
  form->SpeedButton1->click();
  EXPECT_EQ(Shown().Values[0], qzh);
  EXPECT_FALSE(ui.Messages.empty());
}

TEST_F(BatchWindowTest, TheResizeStepSwitchesBetweenFactorsAndPixelCounts) {
  NextStep(3);
  EXPECT_TRUE(form->gButton1->isVisibleTo(form));
  EXPECT_EQ(form->ParamLabel[0]->text(), "X-Faktor");
  form->gButton1->click();
  EXPECT_EQ(Shown().OptionFlags, 2);
  EXPECT_EQ(form->ParamLabel[0]->text(), "Pixelanzahl X:");
  EXPECT_EQ(form->ParamLabel[1]->text(), "Pixelanzahl Y:");
  EXPECT_TRUE(form->CheckBox6->isVisibleTo(form));
  form->CheckBox6->setChecked(true);
  EXPECT_EQ(Shown().OptionFlags, 6);
  form->gButton1->click();
  EXPECT_EQ(Shown().OptionFlags, 4);
  EXPECT_EQ(form->ParamLabel[0]->text(), "X-Faktor");
  EXPECT_FALSE(form->CheckBox6->isVisibleTo(form));

  // A ".qzg" that does not read changes nothing; one that does sets the step.
  const bmenuitem kept = Shown();
  Chosen = {{QString::fromStdString(dir.file("none.qzg"))}};
  form->SpeedButton1->click();
  EXPECT_EQ(Shown(), kept);
  WriteText(dir.file("size.qzg"), "V4 P640\r\n480\r\n4\r\nnoAMF\r\nBOX\r\n");
  Chosen = {{QString::fromStdString(dir.file("size.qzg"))}};
  form->SpeedButton1->click();
  EXPECT_EQ(Asked.back(), TBatchBrowse::Resize);
  EXPECT_EQ(Shown().Values[0], "640");
  EXPECT_EQ(Shown().Values[1], "480");
  EXPECT_EQ(Shown().MarksOrInterpolation, 4);
  EXPECT_EQ(Shown().OptionFlags, 1 | 2 | 4);
  EXPECT_TRUE(Shown().OptionCaption.empty());
  EXPECT_EQ(form->RadioGroup4->ItemIndex(), 4);
  EXPECT_EQ(form->ParamLabel[0]->text(), "Pixelanzahl X:");
}

TEST_F(BatchWindowTest, ParameterFilesAreTakenOnlyWhenTheirReaderTakesThem) {
  NextStep(24);
  WriteText(dir.file("bad.qzf"), "100\r\nzero\r\n");
  Chosen = {{QString::fromStdString(dir.file("bad.qzf"))}};
  form->SpeedButton1->click();
  EXPECT_EQ(Shown().Values[0], "*.qzf");
  EXPECT_FALSE(ui.Messages.empty());
  WriteText(dir.file("good.qzf"), "100\r\n0\r\n0\r\n0\r\n90\r\n10\r\n0\r\n0\r\n100\r\n");
  Chosen = {{QString::fromStdString(dir.file("good.qzf"))}};
  form->SpeedButton1->click();
  EXPECT_EQ(Shown().Values[0], dir.file("good.qzf"));

  MenuItem(13)->trigger();
  Chosen = {{QString::fromStdString(dir.file("missing.qcm"))}};
  form->SpeedButton1->click();
  EXPECT_EQ(Shown().Values[0], "*.qcm");
  ASSERT_TRUE(WriteMosaicSettings(dir.file("cam.qcm"), TMosaicSettings()));
  Chosen = {{QString::fromStdString(dir.file("cam.qcm"))}};
  form->SpeedButton1->click();
  EXPECT_EQ(Asked.back(), TBatchBrowse::Mosaic);
  EXPECT_EQ(Shown().Values[0], dir.file("cam.qcm"));

  MenuItem(32)->trigger();
  Settings.NetworkFolder = "/nets";
  Chosen = {{"/nets/sharp.nnf"}};
  form->SpeedButton1->click();
  EXPECT_EQ(Asked.back(), TBatchBrowse::Network);
  EXPECT_EQ(Starts.back(), "/nets");
  EXPECT_EQ(Shown().Values[0], "/nets/sharp.nnf");
  Settings.NetworkFolder.clear();
}

TEST_F(BatchWindowTest, CometTimingTakesTheObservationTimeOrTheComputedValues) {
  NextStep(10);
  ASSERT_TRUE(form->CheckBox5->isVisible());
  BatchSteps.Records[1].Values[0] = dir.file("none.fit");
  form->CheckBox5->click();
  EXPECT_EQ(ui.Messages.back(), "In der Anfangsdatei ist leider keine Aufnahmezeit gefunden worden.");
  EXPECT_FALSE(form->CheckBox5->isChecked());
  EXPECT_FALSE(BatchWindow.TimestampTicked);

  // A file without date cards has its modification time only.
  const std::string start = dir.file("a0001.fit");
  MakeImage(1, 2, 2, {{0, 1, 2, 3}}, start);
  ASSERT_TRUE(SaveFits(1, -32, start, false, false));
  BatchSteps.Records[1].Values[0] = start;
  ui.Answers = {TDialogAnswer::No, TDialogAnswer::Yes};
  form->CheckBox5->click();
  EXPECT_EQ(ui.Messages.back(),
            "In der Anfangsdatei ist nur eine Dateiänderungszeit gefunden worden, soll diese verwendet werden?");
  EXPECT_FALSE(form->CheckBox5->isChecked());
  form->CheckBox5->click();
  EXPECT_TRUE(form->CheckBox5->isChecked());
  EXPECT_TRUE(BatchRun.ByTimestamp);
  EXPECT_TRUE(form->Label7->text().contains("pro Minute"));
  form->CheckBox5->click();

  BatchRun.CometValuesSet = true;
  BatchRun.CometPerMinuteX = 0.123456789;
  BatchRun.CometPerMinuteY = -2.0;
  BatchRun.CometPerFrameX = 1.5;
  BatchRun.CometPerFrameY = 0.25;
  const int questions = ui.Questions;
  form->CheckBox5->click();
  EXPECT_EQ(ui.Questions, questions);
  EXPECT_EQ(form->Edit5->text(), "0.12345679");
  EXPECT_EQ(form->Edit6->text(), "-2.00000000");
  EXPECT_EQ(Shown().Values[0], "0.12345679");
  form->CheckBox5->click();
  EXPECT_EQ(form->Edit5->text(), "1.50000000");
  EXPECT_EQ(Shown().Values[1], "0.25000000");
  EXPECT_TRUE(form->Label7->text().contains("pro Serienbild"));
}

TEST_F(BatchWindowTest, TheStarViewFollowsTheCursorDuringARunOnlyWhileTheCheckAsks) {
  ASSERT_TRUE(StarCheckPromptShown);
  EXPECT_FALSE(StarCheckPromptShown());
  StarCheckPrompt().show();
  EXPECT_TRUE(StarCheckPromptShown());
  StarCheckPrompt().hide();
  EXPECT_FALSE(StarCheckPromptShown());
}

TEST_F(BatchWindowTest, ShowingTranslatesTheWindowTheTableAndTheMenu) {
  form->hide();
  std::vector<std::string> file;
  for (int s = 1; s <= 36; ++s) file.push_back("[" + std::to_string(s) + "_x");
  file.push_back("[37_Batch");
  file.push_back("[11.1]Add to target");
  file.push_back("[118]Batch processing");
  file.push_back("[119]processing step");
  file.push_back("[250.3]Add to the target file");
  LoadLanguageFile(file);
  form->show();
  EXPECT_EQ(form->windowTitle(), "Batch processing");
  EXPECT_EQ(form->Label1->text(), "1. processing step");
  // Without a translation of its own the browse hint is English.
  EXPECT_EQ(form->SpeedButton1->toolTip(),
            "Select more than 1 file in the open dialog to create a list of files to be processed.");
  form->SButton2->click();
  MenuItem(10)->trigger();
  EXPECT_EQ(form->qzDDButton1->Caption(), "Add to target");
  EXPECT_TRUE(form->Memo2->toPlainText().contains("2. ADD TO TARGET"));
  EXPECT_TRUE(form->Memo1->toPlainText().contains("2. ZUR ZIELDATEI ADDIEREN"));
  // The menu is built with the window: a new window takes the translation.
  ReleaseDialogForm("Form7");
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(RunMenuCommand("Batchprocessing1"));
  form = BatchWindowForm();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(MenuItem(10)->text(), "Add to the target file");
}

}  // namespace
}  // namespace astrelon::test
