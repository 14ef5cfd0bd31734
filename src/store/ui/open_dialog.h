#pragma once
// The image open dialog of the File menu: a file dialog for several files with
// a preview panel on its right, where a small picture of the current file is
// shown with its size in pixels. Every image format has a reduced reader for it.
#include <QFileDialog>
#include <QSize>
#include <QString>

class QCheckBox;
class QFrame;
class QLabel;
class QTimer;
class QWidget;

namespace astrelon {

class TPicOpenDialog : public QFileDialog {
  Q_OBJECT
public:
  explicit TPicOpenDialog(QWidget* parent = nullptr);

  // Hint of the preview check box, and the size label's caption.
  void SetButtonHint(const QString& hint);
  void SetLabelCaption(const QString& caption);

  // The preview check box was clicked: unticked hides the picture and clears the label.
  void PreviewBoxClick();
  // Every 100 ms while the dialog runs: ticking the box shows the current file's preview.
  void Timer2Timer();
  // Shows the preview of the current file (below).
  void PreviewFileInDialog();
  // The file whose preview is asked for (the dialog's current file).
  QString CurrentFile() const { return currentFile_; }
  void SetCurrentFile(const QString& name);

  QFrame* ClientPanel = nullptr;
  QLabel* Picture = nullptr;
  QLabel* Bildgroesse = nullptr;  // size label
  QCheckBox* showhidepreview = nullptr;
  QTimer* Timer2 = nullptr;

  bool PreviewBusy = false;
  bool PreviewTicked = false;  // the check box state last seen by Timer2
  QString LastPreviewName;     // the file whose preview is shown
  // What the last preview read: the number of files read for previews and the
  // size of the picture handed to the preview control.
  int PreviewReads = 0;
  QSize LastPictureSize;

private:
  bool ReadPreview(const std::string& name, int slot, int32_t& w, int32_t& h);
  QString currentFile_;
  QString lastPreviewLabel_;
};

// The main window's open dialog (created on first use, with the open filter).
TPicOpenDialog& PicOpenDialog(QWidget* parent);
// Runs the dialog: the preview box starts as the setting "Preview", the preview
// timer runs while it is open, and the box's state goes back into the setting.
// True when the user confirmed.
bool ExecuteOpenDialog(TPicOpenDialog& dialog);

// The open dialog's filter in the "title|patterns|title|patterns" form: all
// formats first, then one entry per format; the own RAW extensions end the
// first entry and the "Raw" entry (".RAW.DAT" gives ";*.RAW;*.DAT").
QString OpenFilterText();
// The same as the file dialog's name filters ("FITS (*.fits *.fts *.fit)").
QStringList OpenDialogFilters();
// Gives the open dialog (when it exists) the current filter.
void BuildOpenFilter();

}  // namespace astrelon
