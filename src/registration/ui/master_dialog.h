#pragma once
// The dialog "Masterdark/-flat erstellen": files dragged from a folder tree and
// file list (or dropped from the desktop) into sorted lists of darks, flats and
// flat-darks, a method per list and a target name; "&Erstellen" builds the
// masters. In multifocus mode the same dialog merges one list of photographs
// focused at different depths.
#include <QWidget>
#include <array>
#include <string>

class QFileSystemModel;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QMenu;
class QMimeData;
class QPushButton;
class QRadioButton;
class QTabBar;
class QTreeView;

namespace astrelon {

class TForm11 : public QWidget {
public:
  TForm11();

  QTabBar* TabControl1;
  QTreeView* DirTree1;
  QListView* FileListBox1;
  std::array<QListWidget*, 4> Lists{};  // ListBox1 darks, Listbox2 flats, ListBox3 flat-darks, ListBox4 multifocus
  QLabel* Image1;                       // "Markierte Dateien aus der Liste nehmen"
  QGroupBox* RadioGroup1;
  std::array<QRadioButton*, 4> Methods{};
  QLabel* Label1;  // label of Edit1
  QLineEdit* Edit1;
  QPushButton* Button1;  // "&Erstellen"
  QPushButton* Button2;  // "&Abbrechen"
  QMenu* PopupMenu1;     // "Alles auswählen"

  // The list of the current tab (ListBox4 in multifocus mode).
  QListWidget* CurrentList() const;
  // Folder shown by the file list.
  void SetFolder(const QString& folder);
  QString Folder() const;

  // Adds full file names to a list, sorted, without duplicates (names compare
  // with regard to case); the tab's name moves into `folder` unless it is empty.
  void AddFiles(QListWidget* list, const QStringList& names, const QString& folder);
  // Files dropped from the desktop: those with a known image extension go into
  // the current list; except on the flat-dark tab the name moves into their folder.
  void ShellDrop(const QMimeData* data);
  // The selected files of the file list dragged into a list.
  void DropFromFileList(QListWidget* list);
  // Removes the selected entries of a list.
  void RemoveSelected(QListWidget* list);

  void TabControl1Change();
  void RadioGroup1Click(int index);
  void Edit1Change(const QString& text);
  void DirTree1Change();
  void Allesauswhlen1Click();
  void Button1Click();
  // Sets up the tabs for the current mode (first showing or a change of mode).
  void Configure();

protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  int Tab() const;  // 0..2, 3 in multifocus mode
  void UpdateButtons();
  bool ListDrop(QListWidget* list, QDropEvent* e);
  QFileSystemModel* dirs_;
  QFileSystemModel* files_;
  QListWidget* popupList_ = nullptr;
  bool multifocus_ = false;
  bool initialised_ = false;
  bool revealPending_ = false;  // the tree follows the list's folder while its rows load
  bool revealQueued_ = false;
  QObject* treeViewport_ = nullptr;  // compared only, never used
  // Expands the tree down to the list's folder, selects and centres it.
  void RevealFolderInTree();
};

// Which mode the next showing uses: the master command clears it, "Multifokus" sets it.
extern bool MultifocusMode;
// The dialog (created on first use) shown in the current mode.
TForm11& ShowMasterDialog();
// Whether the dialog is shown or its work runs (the dialog is hidden meanwhile).
bool MasterDialogShown();
// The dialog when it exists.
TForm11* MasterDialog();

// The patterns of the file list: "*" + the open dialog's extensions, plus *.FIT and *.TIF.
QStringList MasterFileMasks();

}  // namespace astrelon
