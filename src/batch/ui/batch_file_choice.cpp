#include "batch/ui/batch_file_choice.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <array>

#include "core/settings.h"
#include "pixelops/ui/mosaic/mosaic_dialog.h"
#include "shell/ui/controls/control_utils.h"
#include "store/ui/open_dialog.h"

namespace astrelon {

namespace {

struct TDialogKind {
  const char* Filter;
  const char* Suffix;
};

// Filters of the parameter-file kinds, in the order of TBatchBrowse from
// ColorCorrection on.
constexpr std::array<TDialogKind, 8> Kinds = {{
    {"Astrelon Farbkorrektur (*.qzf)", "qzf"},
    {"Astrelon Kissenentzerrung (*.qzk)", "qzk"},
    {"Astrelon Größenverhältnis (*.qzg)", "qzg"},
    {"Astrelon Histogrammeinstellung (*.qzh)", "qzh"},
    {"Universeller Neuronal Network Filter (*.nnf)", "nnf"},
    {"Wavelet Einstellungen (*.wvl)", "wvl"},
    {"Frequenzänderung (*.qfg)", "qfg"},
    {"Astrelon Batchfile (*.qzb)", "qzb"},
}};
constexpr TDialogKind SaveBatchKind = {"Astrelon Batchdatei (*.qzb)", "qzb"};
constexpr TDialogKind ShiftListKind = {"Astrelon Verschiebungsliste (*.qvl)", "qvl"};

// A start name: a folder opens the dialog there, a file name is proposed.
void Prepare(QFileDialog* dialog, const QString& start) {
  if (start.isEmpty()) return;
  const QFileInfo info(start);
  if (info.isDir())
    dialog->setDirectory(start);
  else
    dialog->selectFile(start);
}

QStringList Run(QFileDialog* dialog, const QString& start) {
  Prepare(dialog, start);
  if (dialog->exec() != QDialog::Accepted) return {};
  return dialog->selectedFiles();
}

QFileDialog* ParameterDialog(QWidget* parent, TBatchBrowse kind) {
  static std::array<QPointer<QFileDialog>, Kinds.size() + 2> dialogs;
  const size_t i = size_t(kind) - size_t(TBatchBrowse::ColorCorrection);
  QPointer<QFileDialog>& d = dialogs[i];
  if (!d) {
    const TDialogKind& k = kind == TBatchBrowse::SaveBatch   ? SaveBatchKind
                           : kind == TBatchBrowse::ShiftList ? ShiftListKind
                                                             : Kinds[i];
    d = MakeParameterFileDialog(parent, kind == TBatchBrowse::SaveBatch, QString::fromUtf8(k.Filter), k.Suffix);
  }
  return d;
}

}  // namespace

QStringList RunBatchFileDialog(QWidget* parent, TBatchBrowse kind, const QString& start) {
  switch (kind) {
    case TBatchBrowse::Images:
    case TBatchBrowse::Image: {
      TPicOpenDialog& dialog = PicOpenDialog(parent);
      dialog.setFileMode(kind == TBatchBrowse::Images ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
      Prepare(&dialog, start);
      const bool chosen = ExecuteOpenDialog(dialog);
      const QStringList files = chosen ? dialog.selectedFiles() : QStringList();
      dialog.setFileMode(QFileDialog::ExistingFiles);
      return files;
    }
    case TBatchBrowse::Mosaic: {
      TForm13* mosaic = MosaicDialog();
      return mosaic ? Run(mosaic->OpenDialog1, start) : QStringList();
    }
    case TBatchBrowse::Network:
      return Run(ParameterDialog(parent, kind),
                 start.isEmpty() ? QString::fromStdString(Settings.NetworkFolder) : start);
    default: return Run(ParameterDialog(parent, kind), start);
  }
}

}  // namespace astrelon
