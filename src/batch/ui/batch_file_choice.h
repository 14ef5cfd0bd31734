#pragma once
// The file dialogs behind the batch window's browse, open and save buttons:
// the main image open dialog for images, the colour-mosaic dialog's ".qcm"
// dialog, and one parameter-file dialog per kind, kept so that each remembers
// its folder.
#include <QString>
#include <QStringList>

#include "batch/ui/batch_window.h"

class QWidget;

namespace astrelon {

// Runs the dialog of `kind` starting at `start` (a file name, a folder or
// empty); the chosen files, empty when cancelled.
QStringList RunBatchFileDialog(QWidget* parent, TBatchBrowse kind, const QString& start);

}  // namespace astrelon
