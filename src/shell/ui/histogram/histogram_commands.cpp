// The histogram window's pop-up commands: 8, 12 and 16 bit scaling, black to
// 0, automatic scaling, the display written into a new image, and saving and
// loading histogram settings files.
#include <QFileDialog>
#include <cmath>
#include <string>

#include "common/engine_ui.h"
#include "common/file_extension.h"
#include "core/busy_cursor.h"
#include "shell/display/display_stretch.h"
#include "shell/ui/histogram/histogram_window.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/window_creation.h"
#include "store/display/display_histogram.h"
#include "store/display/histogram_range.h"
#include "store/display/histogram_settings_file.h"
#include "store/image_store.h"
#include "store/load_messages.h"

namespace astrelon {

void TForm2::ScaleToBits(int tag) {
  if (!SlotUsable()) return;
  const int slot = CurrentSlot;
  TDisplayRecord& d = Store.Display[size_t(slot)];
  const float m = float(std::ldexp(1.0, 8 + 4 * std::clamp(tag, 0, 2)) - 1);  // 255, 4095, 65535
  d.Black = 0;
  d.White = m;
  if (FitHistogramRange(slot, m)) ComputeHistogram(slot, false, false);
  RefreshHistogramWindow();
  ApplyHistogramChange();
}

void TForm2::BlackToZero() {
  if (!SlotUsable()) return;
  const int slot = CurrentSlot;
  TDisplayRecord& d = Store.Display[size_t(slot)];
  d.Black = 0;
  if (d.RangeLow > 0) {
    d.RangeLow = 0;
    ComputeHistogram(slot, false, false);
  }
  RefreshHistogramWindow();
  ApplyHistogramChange();
}

void TForm2::AutoScale() {
  if (!SlotUsable()) return;
  const int slot = CurrentSlot;
  const TDisplayRecord& d = Store.Display[size_t(slot)];
  const TImageSlot& im = Store.Image[size_t(slot)];
  if (d.RangeLow != im.MinValue || d.RangeHigh != im.MaxValue || d.SpanBlackWhite) ComputeHistogram(slot, true, true);
  SetAutoDisplayRange(slot, false);
  RefreshHistogramWindow();
  ApplyHistogramChange();
}

void TForm2::TransferToImageValues() {
  if (!SlotUsable()) return;
  if (FindFreeSlot() < 1) {
    EngineUi().ShowMessage(TooManyImagesText());
    return;
  }
  TBusyCursorScope busy;
  if (!NewResultSlot()) {
    SlotPair = {};
    return;
  }
  const int dst = SlotPair.Destination;
  SlotPair = {};
  ApplyDisplayStretch(dst, 65535.0);
  ComputeHistogram(dst, false, false);
  ChangePending = false;
  ShowImageWindow(dst);
  RefreshHistogramWindow();
  ReleaseWindowUndo(dst);
}

namespace {

QString AskFileName(QWidget* parent, bool save, const QString& suggestion) {
  const QString filter = "Astrelon Histogrammeinstellung (*.qzh)";
  if (save) {
    QFileDialog dialog(parent, {}, suggestion, filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("qzh");
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                   : QString();
  }
  return QFileDialog::getOpenFileName(parent, {}, suggestion, filter, nullptr, QFileDialog::DontUseNativeDialog);
}

}  // namespace

void TForm2::SaveSettingsFile() {
  if (!SlotUsable()) return;
  const int slot = CurrentSlot;
  const QString name = ChooseFile ? ChooseFile(true, lastFile_) : AskFileName(this, true, lastFile_);
  if (name.isEmpty()) return;
  std::string error;
  if (!SaveHistogramSettings(slot, name.toStdString(), &error)) {
    EngineUi().ShowMessage(error);
    return;
  }
  lastFile_ = QString::fromStdString(ReplaceFileExt(name.toStdString(), ".qzh"));
}

void TForm2::LoadSettingsFile() {
  if (!SlotUsable()) return;
  const int slot = CurrentSlot;
  const QString name = ChooseFile ? ChooseFile(false, lastFile_) : AskFileName(this, false, lastFile_);
  if (name.isEmpty()) return;
  std::string error;
  if (!LadeHistogrammeinstellung(slot, name.toStdString(), true, &error)) {
    EngineUi().ShowMessage(error);
    return;
  }
  lastFile_ = name;
  RefreshHistogramWindow();
  ApplyHistogramChange();
}

void RegisterHistogramCommands() {
  auto on = [](auto act) {
    return [act](QAction*) {
      if (TForm2* f = HistogramWindow()) act(f);
    };
  };
  RegisterMenuCommand("Auf8Bitskalieren02551", on([](TForm2* f) { f->ScaleToBits(0); }));
  RegisterMenuCommand("Auf12Bitskalieren040951", on([](TForm2* f) { f->ScaleToBits(1); }));
  RegisterMenuCommand("Auf16Bitskalieren0655351", on([](TForm2* f) { f->ScaleToBits(2); }));
  RegisterMenuCommand("Schwarzwertauf0setzen1", on([](TForm2* f) { f->BlackToZero(); }));
  RegisterMenuCommand("Automatischskalieren1", on([](TForm2* f) { f->AutoScale(); }));
  RegisterMenuCommand("bertragedieSkalierungaufdieBildwerte1", on([](TForm2* f) { f->TransferToImageValues(); }));
  RegisterMenuCommand("Histogrammeinstellungenspeichern1", on([](TForm2* f) { f->SaveSettingsFile(); }));
  RegisterMenuCommand("Histogrammeinstellungenladen1", on([](TForm2* f) { f->LoadSettingsFile(); }));
}

}  // namespace astrelon
