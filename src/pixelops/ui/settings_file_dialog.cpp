#include "pixelops/ui/settings_file_dialog.h"

namespace astrelon {

QFileDialog* MakeSettingsFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& filter,
                                    const QString& suffix) {
  auto* d = new QFileDialog(parent);
  d->setOption(QFileDialog::DontUseNativeDialog, true);
  d->setAcceptMode(mode);
  d->setNameFilter(filter);
  d->setDefaultSuffix(suffix);
  if (mode == QFileDialog::AcceptOpen) d->setFileMode(QFileDialog::ExistingFile);
  return d;
}

}  // namespace astrelon
