// The batch window's step editor: showing a step, choosing its operation,
// walking through the steps, and the controls of the add-to-target, fit and
// resize steps.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_captions.h"
#include "batch/steps/batch_operation_table.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_text.h"
#include "batch/steps/batch_window_state.h"
#include "batch/steps/translated_batch_table.h"
#include "batch/ui/batch_window.h"
#include "common/engine_ui.h"
#include "common/paths.h"
#include "core/language.h"
#include "filters/ui/radio_group.h"
#include "shell/ui/controls/dd_button.h"

namespace astrelon {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Caption(TBatchCaption c) { return Q(BatchCaption(c)); }

bmenuitem& EditorRecord() { return BatchSteps.Records[size_t(BatchSteps.EditorStep)]; }
TBatchOp EditorOp() { return BatchSteps.Ops[size_t(BatchSteps.EditorStep)]; }
bool BayerPage() { return BatchWindow.Page == TAddTargetPage::BayerSpecial; }

int PageIndex(TAddTargetPage page) {
  switch (page) {
    case TAddTargetPage::NormalComet: return 0;
    case TAddTargetPage::PlanetMoon: return 1;
    case TAddTargetPage::BayerSpecial: return 2;
  }
  return 0;
}

bool PixelCounts(const bmenuitem& r) { return r.OptionFlags > 0 && (r.OptionFlags & 2); }

}  // namespace

void TForm7::SchrittAnzeigen() {
  BatchEditorUpdating = false;
  TBatchStepList& list = BatchSteps;
  const int32_t n = std::clamp(list.EditorStep, 1, MaxBatchSteps);
  list.EditorStep = n;
  EnsureStepCapacity(list, n);
  Label1->setText(QString::number(n) + ". " + Caption(TBatchCaption::EditorStep));
  SButton1->setEnabled(n > 1);
  qzDDButton1->setEnabled(n > 1);
  qzDDButton1->ShowArrow = n > 1;

  if (n == 1) list.Ops[1] = 0;
  if (list.Ops[size_t(n)] < -1 || list.Ops[size_t(n)] > BatchOperationCount) list.Ops[size_t(n)] = -1;
  const TBatchOp op = list.Ops[size_t(n)];
  bmenuitem& r = list.Records[size_t(n)];
  if (op == -1)
    r = BatchTableRow(-1);  // an empty step does not count
  else if (n > list.StepCount)
    list.StepCount = n;
  // Nothing may follow an add to the target or the split into three images.
  SButton2->setEnabled(n < MaxBatchSteps && n <= list.StepCount && op != 10 && op != 33);

  const bmenuitem& t = TranslatedBatchTable[size_t(op + 1)];
  if (op == -1) {
    qzDDButton1->setCaption(Caption(TBatchCaption::ChooseFunction));
    const QPalette& p = palette();
    const QColor a = p.buttonText().color(), b = p.button().color();
    qzDDButton1->FontColor = QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
  } else {
    qzDDButton1->setCaption(Q(t.Name));
    qzDDButton1->FontColor = palette().buttonText().color();
  }
  for (size_t j = 0; j < 4; ++j) {
    const bool shown = !r.Labels[j].empty();
    ParamLabel[j]->setText(Q(t.Labels[j].empty() ? r.Labels[j] : t.Labels[j]));
    ParamLabel[j]->setVisible(shown);
    ParamEdit[j]->setVisible(shown);
    if (shown) ParamEdit[j]->setText(Q(r.Values[j]));
  }

  CheckBox1->setChecked(!r.OptionCaption.empty());
  CheckBox1->setText(Q(t.OptionCaption));
  CheckBox1->setEnabled(true);
  CheckBox2->setVisible(op == 3 || op == 11);
  CheckBox2->setText(Caption(op == 3 ? TBatchCaption::BoxFunctionBox : TBatchCaption::TemperatureBox));
  CheckBox2->setChecked(r.OptionFlags > 0 && (r.OptionFlags & 1));
  CheckBox6->setVisible(op == 3 && PixelCounts(r));
  CheckBox6->setChecked(r.OptionFlags > 0 && (r.OptionFlags & 4));
  gButton1->setVisible(op == 3);
  if (op == 3) SetPixelCountLabels(PixelCounts(r));

  const int32_t marks = r.MarksOrInterpolation;
  ListBox1->setVisible(BatchRun.InputList);
  if (op != 10 && op != 14) {
    CheckBox4->hide();
    PageControl1->hide();
    RadioGroup2->hide();
    CheckBox1->setVisible(!BatchTableRow(op).OptionCaption.empty());
    CheckBox3->setVisible(n == 1);
    if (n == 1) {
      if (!BatchRun.InputList) {
        const bool video = UpperCase(ExtractFileExt(r.Values[0])) == ".AVI";
        ShowFileStepBoxes(video);
        CheckBox3->setChecked(BatchWindow.AllFilesInFolder);
        CheckBox1->setChecked(!r.OptionCaption.empty());
        CheckBox1->setEnabled(!BatchWindow.AllFilesInFolder);
      } else {
        CheckBox1->hide();
        CheckBox3->hide();
      }
      // Without a translation of its own the hint is English in translated programs.
      std::string hint = BatchCaption(TBatchCaption::BrowseHint);
      if (LanguageFileLoaded && LangText(BatchCaptionKey(TBatchCaption::BrowseHint)).empty())
        hint = "Select more than 1 file in the open dialog to create a list of files to be processed.";
      SpeedButton1->setToolTip(Q(hint));
    } else {
      SpeedButton1->setToolTip({});
    }
  } else {
    CheckBox3->hide();
    CheckBox4->show();
    CheckBox4->setChecked(BatchRun.UseShiftList);
    if (op == 14) {
      PageControl1->hide();
      RadioGroup2->hide();
      CheckBox1->setVisible(marks > 0);
    } else {
      PageControl1->show();
      PageControl1->setCurrentIndex(PageIndex(BatchWindow.Page));
      if (BayerPage()) {
        CheckBox1->hide();
        BatchRun.CombineMode = 0;
      } else {
        CheckBox1->setVisible(marks > 0 && BatchRun.CombineMode == 0);
      }
      Edit5->setText(r.Values[0].empty() ? "0.0" : Q(r.Values[0]));
      Edit6->setText(r.Values[1].empty() ? "0.0" : Q(r.Values[1]));
      CheckBox5->setChecked(BatchWindow.TimestampTicked);
      ShowCometCaption();
      RadioGroup3->SetItemIndex(BatchWindow.EdgeDetection ? 0 : 1);
      Edit8->setText(Q(BatchWindow.EdgeValue));
      Edit8->setEnabled(BatchWindow.EdgeDetection);
      Edit7->setText(Q(BatchRun.MosaicFileName));
      RadioGroup2->SetItemIndex(BatchRun.CombineMode);
      RadioGroup2->setVisible(!BayerPage());
    }
  }

  const int32_t tableMarks = BatchTableRow(op).MarksOrInterpolation;
  RadioGroup1->setVisible(tableMarks == 0);
  RadioGroup4->setVisible(tableMarks > 0);
  if (tableMarks == 0) RadioGroup1->SetItemIndex(marks);
  if (tableMarks > 0) RadioGroup4->SetItemIndex(marks);
  Button5->setEnabled(marks < 3);
  SpeedButton3->setVisible(n == 1);
  SpeedButton1->setVisible(n == 1 || r.Labels[0] == "Dateiname" || op == 3);
  BatchEditorUpdating = true;
}

void TForm7::ShowFileStepBoxes(bool video) {
  CheckBox1->setVisible(!video);
  CheckBox3->setVisible(!video);
  if (!video) return;
  // A video has neither a numbered series nor a folder of inputs.
  CheckBox1->setChecked(false);
  CheckBox3->setChecked(false);
  BatchSteps.Records[1].OptionCaption.clear();
  BatchWindow.AllFilesInFolder = false;
}

void TForm7::SetPixelCountLabels(bool pixelCounts) {
  const bmenuitem& t = TranslatedBatchTable[size_t(3 + 1)];
  ParamLabel[0]->setText(pixelCounts ? Caption(TBatchCaption::PixelCountX) : Q(t.Labels[0]));
  ParamLabel[1]->setText(pixelCounts ? Caption(TBatchCaption::PixelCountY) : Q(t.Labels[1]));
}

void TForm7::ShowCometCaption() {
  Label7->setText(Caption(CheckBox5->isChecked() ? TBatchCaption::CometPerMinute : TBatchCaption::CometPerFrame));
}

void TForm7::ChooseOperation(int op, const QString& caption) {
  if (BatchSteps.EditorStep < 2) return;  // the file step keeps its operation
  qzDDButton1->setCaption(caption);
  SetStepOperation(BatchSteps, op, BatchRun.CombineMode);
  SchrittAnzeigen();
  BatchTextSchreiben();
  ShowBatchText();
}

void TForm7::SButton1Click() {
  TBatchStepList& list = BatchSteps;
  if (list.EditorStep <= 1) return;
  if (list.Ops[size_t(list.EditorStep)] == -1 && list.EditorStep == list.StepCount) --list.StepCount;
  --list.EditorStep;
  SchrittAnzeigen();
  Debounce();
}

void TForm7::SButton2Click() {
  TBatchStepList& list = BatchSteps;
  if (list.EditorStep >= MaxBatchSteps) return;
  ++list.EditorStep;
  EnsureStepCapacity(list, list.EditorStep);
  SchrittAnzeigen();
}

void TForm7::SpeedButton4Click() {
  if (BatchRun.Running) return;  // the running batch keeps its steps
  ListBox1->clear();
  BatchSteps = TBatchStepList();
  BatchWindow.AllFilesInFolder = false;
  BatchWindow.TimestampTicked = false;
  BatchRun.CometValuesSet = false;
  BatchRun.ByTimestamp = false;
  CheckBox5->setChecked(false);
  InputListChanged();
  SchrittAnzeigen();
  Debounce();
}

void TForm7::gButton1Click() {
  bmenuitem& r = EditorRecord();
  if (EditorOp() != 3) return;
  r.OptionFlags = std::max(r.OptionFlags, 0);
  const bool on = !(r.OptionFlags & 2);
  if (on)
    r.OptionFlags += 2;
  else
    r.OptionFlags -= 2;
  SetPixelCountLabels(on);
  CheckBox6->setVisible(on);
  Debounce();
}

void TForm7::RadioGroup1Click() {
  bmenuitem& r = EditorRecord();
  const TBatchOp op = EditorOp();
  int32_t marks = RadioGroup1->ItemIndex();
  r.MarksOrInterpolation = marks;
  if (op == 10 || op == 14) {
    // A shift list gives no more marks than it holds.
    if (CheckBox4->isChecked() && marks > shiftListMode_) {
      CheckBox4->setChecked(false);
      BatchRun.UseShiftList = false;
    }
  }
  if (op == 10) {
    if (marks == 0 && BayerPage()) {
      EngineUi().ShowMessage(BatchCaption(TBatchCaption::NeedsShift));
      marks = 1;
      r.MarksOrInterpolation = 1;
      RadioGroup1->SetItemIndex(1);
    }
    const bool swarp = marks > 0 && BatchRun.CombineMode == 0 && !BayerPage();
    CheckBox1->setVisible(swarp);
    r.OptionCaption = swarp && CheckBox1->isChecked() ? BatchTableRow(10).OptionCaption : "";
  } else if (op == 14) {
    CheckBox1->setVisible(marks > 0);
  }
  Button5->setEnabled(marks < 3);
  Debounce();
}

void TForm7::RadioGroup2Click() {
  bmenuitem& r = EditorRecord();
  int32_t mode = RadioGroup2->ItemIndex();
  if (mode > 2) {
    if (BatchSteps.EditorStep > 2) {
      EngineUi().ShowMessage(BatchCaption(TBatchCaption::MedianStep) + "\r\n" +
                             BatchCaption(TBatchCaption::MedianSeparately));
      mode = 0;
      RadioGroup2->SetItemIndex(0);
    } else {
      CheckBox1->setChecked(false);
      r.OptionCaption.clear();
    }
  }
  const bool swarp = mode == 0 && !BayerPage() && r.MarksOrInterpolation > 0;
  CheckBox1->setVisible(swarp);
  if (!swarp) {
    CheckBox1->setChecked(false);
    r.OptionCaption.clear();
  }
  BatchRun.CombineMode = mode;
  Debounce();
}

void TForm7::RadioGroup3Click() {
  BatchWindow.EdgeDetection = RadioGroup3->ItemIndex() == 0;
  Edit8->setEnabled(BatchWindow.EdgeDetection);
  Debounce();
}

void TForm7::PageControl1Change() {
  bmenuitem& r = EditorRecord();
  const int page = PageControl1->currentIndex();
  BatchWindow.Page = page == 2 ? TAddTargetPage::BayerSpecial
                     : page == 1 ? TAddTargetPage::PlanetMoon
                                 : TAddTargetPage::NormalComet;
  if (!BayerPage()) {
    CheckBox1->setVisible(r.MarksOrInterpolation > 0 && BatchRun.CombineMode == 0);
    RadioGroup2->show();
  } else {
    // The mosaic frames are added with their shifts.
    CheckBox1->hide();
    RadioGroup2->hide();
    CheckBox1->setChecked(false);
    r.OptionCaption.clear();
    BatchRun.CombineMode = 0;
    RadioGroup2->SetItemIndex(0);
    if (r.MarksOrInterpolation <= 0) {
      r.MarksOrInterpolation = 1;
      RadioGroup1->SetItemIndex(1);
    }
  }
  Debounce();
}

}  // namespace astrelon
