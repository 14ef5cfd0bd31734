#pragma once
// The open and save dialogs of a dialog's parameter files (".qzg", ".qzk"):
// the program's own file dialog with one filter and a default extension.
#include <QFileDialog>

namespace astrelon {

// A dialog owned by `parent`; an open dialog accepts existing files only.
QFileDialog* MakeSettingsFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& filter,
                                    const QString& suffix);

}  // namespace astrelon
