#pragma once
// The File menu's commands that move images between files and image windows:
// open one or more files into new windows, close the active window, and save
// the active window's image under a new name.
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace astrelon {

struct TFileMenuActions {
  QAction* Open = nullptr;    // "Öff&nen", F3
  QAction* Close = nullptr;   // "S&chließen"
  QAction* SaveAs = nullptr;  // "Speichern &unter...", F2
};

// Adds the three commands to the File menu (their handlers are registered by
// item name); dialogs open over `parent`. Close and Save As are enabled while an
// image window is active.
TFileMenuActions BuildFileMenu(QMenu* fileMenu, QWidget* parent);
// Enables Close and Save As when an image window is active and no operation runs.
void UpdateFileMenuState(const TFileMenuActions& actions);

// The commands.
void FileOpenItemClick(QWidget* parent);
void FileCloseItemClick();
void FileSaveItemClick(QWidget* parent);

// How the open command loads and shows a file (replaceable by tests).
struct TOpenSteps {
  std::function<bool(int slot, const std::string& name)> Load;
  std::function<void(int slot)> Show;
};
TOpenSteps DefaultOpenSteps();
// Opens the chosen files in list order, each into the next free slot (AVI files
// and files beyond the free slots are skipped); the first file of the list goes
// on the recent-file list when it loads. A file whose loading raises an exception
// leaves its slot free and the next file is opened; the names of those files are
// returned (and shown in one message).
std::vector<std::string> OpenChosenFiles(const std::vector<std::string>& names, const TOpenSteps& steps);

}  // namespace astrelon
