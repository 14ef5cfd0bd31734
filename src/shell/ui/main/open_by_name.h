#pragma once
// Opening files by name: the files of the command line and files dropped on the
// main window.
#include <QStringList>
#include <string>

class QWidget;

namespace astrelon {

// Loads the file into the lowest free slot, shows it in a new window and puts it
// on the recent-file list. Nothing happens (and nothing is reported) when no slot
// is free. False when nothing was loaded.
bool OpenFileByName(const std::string& name);
// Opens each dropped file whose extension is one of the known image extensions.
void HandleDroppedFiles(const QStringList& files);
// Lets `window` accept files dropped from the desktop.
void InstallFileDrop(QWidget* window);

}  // namespace astrelon
