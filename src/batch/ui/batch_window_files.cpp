// The batch window's files: browsing for a step's file or parameter file, the
// drop list of input files, and batch files.
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QUrl>

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_captions.h"
#include "batch/steps/batch_file.h"
#include "batch/steps/batch_operation_table.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_text.h"
#include "batch/steps/batch_window_state.h"
#include "batch/ui/batch_window.h"
#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "common/paths.h"
#include "common/text_codec.h"
#include "core/settings.h"
#include "filters/ui/radio_group.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "pixelops/colour/color_correction_file.h"
#include "pixelops/geometry/field_distortion_file.h"
#include "pixelops/geometry/resize_settings_file.h"
#include "pixelops/mosaic/mosaic_settings_file.h"
#include "shell/main/known_extensions.h"
#include "shell/ui/controls/control_utils.h"
#include "store/display/histogram_settings_file.h"

namespace astrelon {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bmenuitem& EditorRecord() { return BatchSteps.Records[size_t(BatchSteps.EditorStep)]; }

// Histogram settings are a few lines; anything larger is not one.
constexpr size_t MaxHistogramFileBytes = 64 * 1024;

void ShowCouldNotOpen(const std::string& name) {
  EngineUi().ShowMessage(BatchCaption(TBatchCaption::TheFile) + name + BatchCaption(TBatchCaption::CouldNotOpen));
}

// A ".qzh" file's black and white points into values 2 and 3 of the step; no
// image's display is touched. False with the reason shown.
bool TakeHistogramLimits(const std::string& name, bmenuitem& r) {
  const std::optional<std::string> text = ReadTextFile(name, MaxHistogramFileBytes);
  if (!text) {
    ShowCouldNotOpen(name);
    return false;
  }
  std::string why;
  const std::optional<THistogramSettings> s = ParseHistogramSettings(*text, &why);
  if (!s) {
    EngineUi().ShowMessage(BatchCaption(TBatchCaption::TheFile) + name + ": " + why);
    return false;
  }
  r.Values[1] = FloatToStrF(s->Black, TFloatFormat::General, 7, 0);
  r.Values[2] = FloatToStrF(s->White, TFloatFormat::General, 7, 0);
  return true;
}

// A ".qzg" file over the resize step: factors or pixel counts, kind, anti-moiré
// and box function. False (the step unchanged) when the file does not read.
bool TakeResizeSettings(const std::string& name, bmenuitem& r) {
  TResizeSettings s;
  s.PixelTab = r.OptionFlags > 0 && (r.OptionFlags & 2);
  s.Horizontal = r.Values[0];
  s.Vertical = r.Values[1];
  s.Kind = r.MarksOrInterpolation >= 0 && r.MarksOrInterpolation < 5 ? r.MarksOrInterpolation : 2;
  s.AntiMoire = !r.OptionCaption.empty();
  s.Box = r.OptionFlags > 0 && (r.OptionFlags & 1);
  if (!ReadResizeSettings(name, s)) {
    ShowCouldNotOpen(name);
    return false;
  }
  r.Values[0] = s.Horizontal;
  r.Values[1] = s.Vertical;
  r.MarksOrInterpolation = std::clamp(s.Kind, 0, 4);
  r.OptionCaption = s.AntiMoire ? BatchTableRow(3).OptionCaption : "";
  int32_t flags = std::max(r.OptionFlags, 0) & 4;
  if (s.Box) flags |= 1;
  if (s.PixelTab) flags |= 2;
  r.OptionFlags = flags;
  return true;
}

}  // namespace

void TForm7::SpeedButton1Click() {
  const int32_t n = BatchSteps.EditorStep;
  const TBatchOp op = BatchSteps.Ops[size_t(n)];
  bmenuitem& r = EditorRecord();
  const QString current = Q(r.Values[0]);
  const auto one = [this](TBatchBrowse kind, const QString& start) {
    const QStringList files = Choose(kind, start);
    return files.isEmpty() ? std::string() : files.first().toStdString();
  };
  std::string name;
  switch (op) {
    case 13:
      name = one(TBatchBrowse::Mosaic, current);
      if (name.empty() || !ReadMosaicSettings(name)) return;
      r.Values[0] = name;
      break;
    case 24: {
      name = one(TBatchBrowse::ColorCorrection, current);
      if (name.empty()) return;
      std::string why;
      const TColorCorrectionRead read = ReadColorCorrection(name, ColorCorrection, &why);
      if (read != TColorCorrectionRead::Read) {
        if (read == TColorCorrectionRead::Refused) EngineUi().ShowMessage(why);
        return;
      }
      r.Values[0] = name;
      break;
    }
    case 25:
      name = one(TBatchBrowse::Distortion, current);
      if (name.empty()) return;
      if (!LoadDistortionSettings(name)) {
        ShowCouldNotOpen(name);
        return;
      }
      r.Values[0] = name;
      break;
    case 32:
      name = one(TBatchBrowse::Network, Q(Settings.NetworkFolder));
      if (name.empty()) return;
      r.Values[0] = name;
      break;
    case 34:
      name = one(TBatchBrowse::Histogram, current);
      if (name.empty() || !TakeHistogramLimits(name, r)) return;
      r.Values[0] = name;
      break;
    case 41:
    case 42:
      name = one(op == 41 ? TBatchBrowse::Wavelet : TBatchBrowse::FrequencyCurve, current);
      if (name.empty()) return;
      r.Values[0] = name;
      break;
    case 3:
      name = one(TBatchBrowse::Resize, {});
      if (name.empty() || !TakeResizeSettings(name, r)) return;
      break;
    case 0:
    case 11:
    case 12:
    case 20: {
      const QStringList files = Choose(n == 1 ? TBatchBrowse::Images : TBatchBrowse::Image, current);
      if (files.isEmpty()) return;
      if (n == 1 && (files.size() >= 2 || BatchRun.InputList)) {
        for (const QString& f : files) ListBoxInsertSorted(ListBox1, f, 0);
        InputListChanged();
        UseInputList();
        r.Values[0] = files.size() > 1 ? ListBox1->item(0)->text().toStdString() : files.first().toStdString();
      } else {
        r.Values[0] = files.first().toStdString();
        if (n == 1) ShowFileStepBoxes(UpperCase(ExtractFileExt(r.Values[0])) == ".AVI");
      }
      break;
    }
    default: return;
  }
  SchrittAnzeigen();
  Debounce();
}

void TForm7::SpeedButton3Click() {
  bmenuitem& file = BatchSteps.Records[1];
  const QStringList files = Choose(TBatchBrowse::Image, Q(file.Values[1]));
  if (files.isEmpty()) return;
  file.Values[1] = files.first().toStdString();
  if (BatchSteps.EditorStep == 1) ParamEdit[1]->setText(files.first());
  Debounce();
}

void TForm7::SpeedButtonfClick() {
  const QStringList files = Choose(TBatchBrowse::Mosaic, Q(BatchRun.MosaicFileName));
  if (files.isEmpty()) return;
  const std::string name = files.first().toStdString();
  if (!ReadMosaicSettings(name)) return;
  if (!IsStandardBayerPattern(MosaicSettings)) {
    EngineUi().ShowMessage(BatchCaption(TBatchCaption::NeedsBayer));
    return;
  }
  BatchRun.MosaicFileName = name;
  Edit7->setText(files.first());
  Debounce();
}

void TForm7::AddInputFiles(const QStringList& files) {
  bool added = false;
  for (const QString& f : files) {
    if (!AcceptedImageExtension(f.toStdString())) continue;
    ListBoxInsertSorted(ListBox1, f, 0);
    added = true;
  }
  if (!added) return;
  InputListChanged();
  UseInputList();
  Debounce();
}

void TForm7::UseInputList() {
  BatchRun.InputList = true;
  ListBox1->show();
  if (BatchSteps.EditorStep == 1) {
    CheckBox1->hide();
    CheckBox3->hide();
  }
}

void TForm7::DeleteSelectedInputs() {
  for (QListWidgetItem* item : ListBox1->selectedItems()) delete item;
  InputListChanged();
  Debounce();
}

void TForm7::Explorerstarten1Click() {
  const QString folder =
      ListBox1->count() > 0 ? Q(ExtractFilePath(ListBox1->item(0)->text().toStdString())) : QDir::homePath();
  QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void TForm7::AlleDateienlschen1Click() {
  ListBox1->clear();
  InputListChanged();
  Debounce();
}

void TForm7::InputListChanged() {
  ListBoxFitScrollWidth(ListBox1);
  BatchWindow.DropList.clear();
  for (int i = 0; i < ListBox1->count(); ++i) BatchWindow.DropList.push_back(ListBox1->item(i)->text().toStdString());
  if (ListBox1->count() > 0) return;
  ListBox1->hide();
  BatchRun.InputList = false;
  const bool updating = BatchEditorUpdating;
  SchrittAnzeigen();
  BatchEditorUpdating = updating;
}

void TForm7::OpenBtnClick() {
  BatchRun.CometValuesSet = false;
  BatchRun.InputList = false;
  BatchRun.UseShiftList = false;
  BatchWindow.TimestampTicked = false;
  CheckBox5->setChecked(false);
  CheckBox4->setChecked(false);
  ListBox1->clear();
  BatchWindow.DropList.clear();
  const QStringList files = Choose(TBatchBrowse::OpenBatch, saveName_.isEmpty() ? openProposal_ : saveName_);
  if (!files.isEmpty() && LoadBatchFile(files.first().toStdString())) {
    saveName_ = files.first();
  } else {
    // The text may still wait for the debounce: it is read as the steps stand.
    BatchTextSchreiben();
    BatchTextLesen();
  }
  for (const std::string& name : BatchWindow.DropList) ListBox1->addItem(Q(name));
  ListBoxFitScrollWidth(ListBox1);
  CheckBox5->setChecked(BatchWindow.TimestampTicked);
  ShowCometCaption();
  SchrittAnzeigen();
  BatchTextSchreiben();
  ShowBatchText();
}

void TForm7::SaveBtnClick() {
  if (BatchSteps.StepCount < 1) return;
  const QStringList files = Choose(TBatchBrowse::SaveBatch, saveName_);
  if (files.isEmpty()) return;
  std::string name = files.first().toStdString();
  if (ExtractFileExt(name).empty()) name += ".qzb";
  if (SaveBatchFile(name)) saveName_ = Q(name);
  ShowBatchText();
}

void TForm7::CheckBox4Click() {
  if (!CheckBox4->isChecked()) {
    BatchRun.UseShiftList = false;
    Debounce();
    return;
  }
  shiftListMode_ = LoadShiftList ? LoadShiftList() : 0;
  if (shiftListMode_ < 1) {
    CheckBox4->setChecked(false);
    BatchRun.UseShiftList = false;
    return;
  }
  BatchRun.UseShiftList = true;
  RadioGroup1->SetItemIndex(shiftListMode_);
  BatchSteps.Records[size_t(BatchSteps.EditorStep)].MarksOrInterpolation = shiftListMode_;
  Debounce();
}

}  // namespace astrelon
