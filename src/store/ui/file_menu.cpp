#include "store/ui/file_menu.h"

#include <QAction>
#include <QCheckBox>
#include <QMdiArea>
#include <QMenu>
#include <new>

#include "common/engine_ui.h"
#include "common/file_extension.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "core/settings.h"
#include "shell/main/known_extensions.h"
#include "shell/main/recent_files.h"
#include "shell/save/save_as.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "store/image_loader.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/tiff/tiff_writer.h"
#include "store/ui/open_dialog.h"
#include "store/ui/save_dialog.h"

namespace astrelon {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The folder the open dialog starts in: the one of the file opened last.
QString& OpenFolder() {
  static QString folder;
  return folder;
}

}  // namespace

TOpenSteps DefaultOpenSteps() { return {LoadImageFile, ShowImageWindow}; }

std::vector<std::string> OpenChosenFiles(const std::vector<std::string>& names, const TOpenSteps& steps) {
  std::vector<std::string> failed;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    const int slot = FindFreeSlot();
    if (slot < 1) continue;
    // Video files are offered by the open dialog for its preview only.
    if (UpperFileExt(name) == ".AVI") continue;
    Store.FileName[slot] = name;
    try {
      if (!steps.Load(slot, name)) continue;
    } catch (const std::exception&) {
      FreeSlot(slot);
      failed.push_back(name);
      continue;
    }
    if (steps.Show) steps.Show(slot);
    if (i == 0) AddRecentFile(name);
  }
  if (!failed.empty()) {
    std::string text = FileOpenErrorText(failed.front());
    for (size_t k = 1; k < failed.size(); ++k) text += "\n" + FileNamePart(failed[k]);
    EngineUi().ShowMessage(text);
  }
  return failed;
}

void FileOpenItemClick(QWidget* parent) {
  if (FindFreeSlot() < 1) {
    EngineUi().ShowMessage(TooManyImagesText());
    return;
  }
  TPicOpenDialog& dialog = PicOpenDialog(parent);
  if (!OpenFolder().isEmpty()) dialog.setDirectory(OpenFolder());
  // Until a file was opened: the first recent file whose folder exists (found at start-up).
  else if (!Settings.OpenDialogFileName.empty()) dialog.selectFile(Q(Settings.OpenDialogFileName));
  if (!ExecuteOpenDialog(dialog)) return;
  std::vector<std::string> names;
  for (const QString& f : dialog.selectedFiles()) names.push_back(f.toStdString());
  OpenFolder() = dialog.directory().absolutePath();
  OpenChosenFiles(names, DefaultOpenSteps());
}

void FileCloseItemClick() {
  const int slot = FindActiveSlot();
  TMDIChild* window = slot > 0 ? ImageWindow(slot) : nullptr;
  // A window taking part in a running operation shows maximise only and stays.
  if (window && !window->BorderIconsLocked()) window->close();
}

void FileSaveItemClick(QWidget* parent) {
  const int slot = FindActiveSlot();
  if (slot < 1) return;
  TJSaveDialog& dialog = JSaveDialog(parent);
  dialog.Prepare(slot);
  if (dialog.exec() != QDialog::Accepted) return;
  Settings.TiffSaveFormat = TiffCodeFromDialog(dialog.TiffTypeIndex, dialog.CBcompression->isChecked());
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return;
  TBusyCursorScope busy;
  std::string written;
  const bool yuv = Store.Image[slot].IsColor && Store.Image[slot].ColorModel == CmYuv;
  const bool saved = SaveSlotAs(slot, dialog.FilterIndex(), files.first().toStdString(), dialog.FitsTypeIndex, written);
  // FITS and TIFF turn a YUV image into RGB first.
  if (yuv && Store.Image[slot].ColorModel == CmRgb) UpdateInfoPanel(slot, 0);
  if (saved) SetWindowCaption(slot);
}

void UpdateFileMenuState(const TFileMenuActions& actions) {
  const bool enabled = FindActiveSlot() > 0 && !OperationRunning;
  if (actions.Close) actions.Close->setEnabled(enabled);
  if (actions.SaveAs) actions.SaveAs->setEnabled(enabled);
}

TFileMenuActions BuildFileMenu(QMenu* fileMenu, QWidget* parent) {
  TFileMenuActions a;
  a.Open = fileMenu->addAction("Öff&nen");
  a.Open->setObjectName("FileOpenItem");
  a.Open->setShortcut(QKeySequence(Qt::Key_F3));
  a.Close = fileMenu->addAction("S&chließen");
  a.Close->setObjectName("FileCloseItem");
  a.SaveAs = fileMenu->addAction("Speichern &unter...");
  a.SaveAs->setObjectName("FileSaveAsItem");
  a.SaveAs->setShortcut(QKeySequence(Qt::Key_F2));
  a.SaveAs->setEnabled(false);
  a.Close->setEnabled(false);
  QObject::connect(fileMenu, &QMenu::aboutToShow, fileMenu, [a] { UpdateFileMenuState(a); });
  if (QMdiArea* area = MainLink().MdiArea)
    QObject::connect(area, &QMdiArea::subWindowActivated, fileMenu, [a] { UpdateFileMenuState(a); });
  return a;
}

}  // namespace astrelon
