#include "registration/ui/master_dialog.h"

#include <algorithm>

#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStyle>
#include <QTabBar>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include "batch/ui/batch_status_window.h"
#include "common/engine_ui.h"
#include "core/settings.h"
#include "registration/stacking/master_file_names.h"
#include "registration/stacking/master_frames.h"
#include "registration/stacking/multifocus.h"
#include "shell/main/known_extensions.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/windows/window_creation.h"
#include "store/raw/own_raw.h"

namespace astrelon {

bool MultifocusMode = false;

namespace {

constexpr int FormNumber = 11;
constexpr int MultifocusTab = 3;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Names and methods of the tabs; they outlive the dialog.
struct TMasterDialogState {
  std::array<std::string, 4> Names;  // darks, flats, flat-darks (none), multifocus
  std::array<TStackMethod, 3> Methods{};
  bool NamesSet = false;
};
TMasterDialogState& State() {
  static TMasterDialogState s;
  if (!s.NamesSet) {
    if (MasterFileNames[0].empty()) BuildMasterFileNames();
    s.Names = MasterFileNames;
    s.NamesSet = true;
  }
  return s;
}

constexpr std::array<const char*, 4> EditLabels{"Masterdark Datei:", "Masterflat Datei:", "", "Multifokus Datei:"};

std::vector<std::string> Items(const QListWidget* list) {
  std::vector<std::string> out;
  for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
  return out;
}

// The name's file part put into the folder.
std::string MoveIntoFolder(const std::string& name, const QString& folder) {
  const QString file = QFileInfo(Q(name)).fileName();
  return QDir(folder).filePath(file).toStdString();
}

// Shows the master and multifocus work in the batch status window.
class TStatusProgress : public TMasterProgress {
public:
  explicit TStatusProgress(QWidget* dialog) : dialog_(dialog) {}
  void Start(const std::string& title) override {
    if (dialog_) dialog_->hide();
    TForm10& s = BatchStatusWindow();
    s.StartRun(false);
    s.setWindowTitle(Q(title));
    QApplication::processEvents();
  }
  void SetTitle(const std::string& title) override { BatchStatusWindow().setWindowTitle(Q(title)); }
  // What was written, with full names, stays in the window after the run.
  void Report(const std::string& text) override { BatchStatusWindow().Label3->setText(Q(text)); }
  void Finish(const std::string& title) override {
    TForm10& s = BatchStatusWindow();
    s.setWindowTitle(Q(title));
    s.Label4->clear();
    s.EndRun();
  }
  bool ConfirmOverwrite(const std::string& caption, const std::string& prompt, std::string& name) override {
    QString value = Q(name);
    if (!LangInputQuery(Q(caption), Q(prompt), value)) return false;
    name = value.toStdString();
    return true;
  }

private:
  QPointer<QWidget> dialog_;
};

bool Running = false;

// Drops only copy names: the source of a drag never removes anything itself.
void AcceptAsCopy(QDropEvent* e) {
  e->setDropAction(Qt::CopyAction);
  e->accept();
}

}  // namespace

QStringList MasterFileMasks() {
  QStringList masks;
  for (const QString& ext : (QString(KnownImageExtensions) + Q(OwnRawExtensionList)).split('.', Qt::SkipEmptyParts))
    masks << "*." + ext;
  masks << "*.FIT" << "*.TIF";
  return masks;
}

TForm11::TForm11() : QWidget(nullptr, Qt::Window) {
  setObjectName("Form11");
  resize(720, 480);

  dirs_ = new QFileSystemModel(this);
  dirs_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  dirs_->setRootPath("/");
  files_ = new QFileSystemModel(this);
  files_->setFilter(QDir::Files | QDir::NoDotAndDotDot);
  files_->setNameFilters(MasterFileMasks());  // matched without regard to case
  files_->setNameFilterDisables(false);

  DirTree1 = new QTreeView(this);
  DirTree1->setObjectName("DirTree1");
  DirTree1->setModel(dirs_);
  for (int c = 1; c < dirs_->columnCount(); ++c) DirTree1->hideColumn(c);
  DirTree1->header()->hide();
  // Folders beside the way down load (and are sorted) in the background, which
  // moves the rows: the tree scrolls to the list's folder again after each
  // change until the user works in the tree.
  const auto queueReveal = [this] {
    if (!revealPending_ || revealQueued_) return;
    revealQueued_ = true;
    QTimer::singleShot(0, this, [this] {
      revealQueued_ = false;
      if (revealPending_) RevealFolderInTree();
    });
  };
  connect(dirs_, &QFileSystemModel::directoryLoaded, this, queueReveal);
  connect(dirs_, &QAbstractItemModel::rowsInserted, this, queueReveal);
  connect(dirs_, &QAbstractItemModel::layoutChanged, this, queueReveal);
  treeViewport_ = DirTree1->viewport();
  DirTree1->installEventFilter(this);
  treeViewport_->installEventFilter(this);
  FileListBox1 = new QListView(this);
  FileListBox1->setObjectName("FileListBox1");
  FileListBox1->setModel(files_);
  FileListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  FileListBox1->setDragEnabled(true);
  FileListBox1->setDragDropMode(QAbstractItemView::DragOnly);
  FileListBox1->setDefaultDropAction(Qt::CopyAction);
  connect(DirTree1->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { DirTree1Change(); });

  auto* left = new QSplitter(Qt::Vertical, this);
  left->addWidget(DirTree1);
  left->addWidget(FileListBox1);

  TabControl1 = new QTabBar(this);
  TabControl1->setObjectName("TabControl1");
  connect(TabControl1, &QTabBar::currentChanged, this, [this] { TabControl1Change(); });

  auto* right = new QWidget(this);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->addWidget(TabControl1);
  constexpr std::array<const char*, 4> listNames{"ListBox1", "Listbox2", "ListBox3", "ListBox4"};
  PopupMenu1 = new QMenu(this);
  PopupMenu1->addAction("Alles auswählen", this, [this] { Allesauswhlen1Click(); })->setObjectName("Allesauswhlen1");
  for (size_t i = 0; i < Lists.size(); ++i) {
    auto* l = new QListWidget(right);
    l->setObjectName(listNames[i]);
    l->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Entries are only dragged out (to the trash picture) and copied: the
    // list never removes them itself after a drag. Drops are handled below.
    l->setDragDropMode(QAbstractItemView::DragOnly);
    l->setDefaultDropAction(Qt::CopyAction);
    l->viewport()->setAcceptDrops(true);
    l->installEventFilter(this);
    l->viewport()->installEventFilter(this);
    l->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(l, &QWidget::customContextMenuRequested, this, [this, l](const QPoint& at) {
      if (l->count() == 0) return;
      popupList_ = l;
      PopupMenu1->popup(l->viewport()->mapToGlobal(at));
    });
    rightLayout->addWidget(l, 1);
    Lists[i] = l;
  }

  RadioGroup1 = new QGroupBox(right);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioGroup1->setToolTip("Sigma: Mitteln mit Störungskorrektur; Mittelmed: Mitteln mit auslassen des Max- und Minwertes");
  auto* group = new QButtonGroup(this);
  auto* radios = new QHBoxLayout(RadioGroup1);
  constexpr std::array<const char*, 4> methodNames{"Mitteln", "Sigma", "Mittelmed", "Median"};
  for (int i = 0; i < 4; ++i) {
    Methods[size_t(i)] = new QRadioButton(methodNames[size_t(i)], RadioGroup1);
    group->addButton(Methods[size_t(i)], i);
    radios->addWidget(Methods[size_t(i)]);
  }
  connect(group, &QButtonGroup::idClicked, this, [this](int id) { RadioGroup1Click(id); });
  rightLayout->addWidget(RadioGroup1);

  auto* panel4 = new QWidget(right);
  panel4->setObjectName("Panel4");
  auto* panelLayout = new QVBoxLayout(panel4);
  Label1 = new QLabel(panel4);
  Edit1 = new QLineEdit(panel4);
  Edit1->setObjectName("Edit1");
  connect(Edit1, &QLineEdit::textChanged, this, [this](const QString& t) { Edit1Change(t); });
  panelLayout->addWidget(Label1);
  panelLayout->addWidget(Edit1);
  rightLayout->addWidget(panel4);

  auto* buttons = new QHBoxLayout;
  Image1 = new QLabel(right);
  Image1->setObjectName("Image1");
  Image1->setPixmap(style()->standardIcon(QStyle::SP_TrashIcon).pixmap(32, 32));
  Image1->setToolTip("Markierte Dateien aus der Liste nehmen");
  Image1->setAcceptDrops(true);
  Image1->installEventFilter(this);
  Button1 = new QPushButton("&Erstellen", right);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton("&Abbrechen", right);
  Button2->setObjectName("Button2");
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { hide(); });
  buttons->addWidget(Image1);
  buttons->addStretch(1);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  rightLayout->addLayout(buttons);

  auto* layout = new QHBoxLayout(this);
  auto* split = new QSplitter(Qt::Horizontal, this);
  split->addWidget(left);
  split->addWidget(right);
  layout->addWidget(split);
  UpdateButtons();
}

int TForm11::Tab() const {
  if (multifocus_) return MultifocusTab;
  return std::clamp(TabControl1->currentIndex(), 0, 2);
}

QListWidget* TForm11::CurrentList() const { return Lists[size_t(Tab())]; }

QString TForm11::Folder() const { return files_->rootPath(); }

void TForm11::SetFolder(const QString& folder) {
  const QModelIndex dir = dirs_->index(folder);
  if (dir.isValid() && DirTree1->currentIndex() != dir) {
    DirTree1->setCurrentIndex(dir);  // DirTree1Change follows
    DirTree1->scrollTo(dir);
    return;
  }
  files_->setRootPath(folder);
  FileListBox1->setRootIndex(files_->index(folder));
}

void TForm11::Configure() {
  const bool wanted = MultifocusMode;
  if (initialised_ && wanted == multifocus_) return;
  multifocus_ = wanted;
  initialised_ = true;
  const QSignalBlocker block(TabControl1);
  while (TabControl1->count() > 0) TabControl1->removeTab(0);
  if (multifocus_) {
    setWindowTitle("Multifokus-Datei erstellen (Mikroskopie)");
    TabControl1->addTab("Datein mit unterschiedl. Fokus:");
  } else {
    setWindowTitle("Masterdark/-flat erstellen");
    for (const char* t : {"Darks", "Flats", "Flatdarks"}) TabControl1->addTab(t);
  }
  TabControl1->setCurrentIndex(0);
  RadioGroup1->setVisible(!multifocus_);
  TabControl1Change();
  const bool empty = multifocus_ ? Lists[3]->count() == 0 : Lists[0]->count() == 0 && Lists[1]->count() == 0;
  if (empty) {
    const std::string& last = Settings.RecentFiles[1];
    const QString folder = last.empty() ? QString() : QFileInfo(Q(last)).absolutePath();
    SetFolder(!folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath());
  }
}

void TForm11::showEvent(QShowEvent* e) {
  Configure();
  setAcceptDrops(true);
  QWidget::showEvent(e);
  // The tree can scroll to the list's folder only once it is laid out.
  revealPending_ = true;
  QTimer::singleShot(0, this, [this] { RevealFolderInTree(); });
}

void TForm11::RevealFolderInTree() {
  const QModelIndex dir = dirs_->index(Folder());
  if (!dir.isValid()) return;
  for (QModelIndex p = dir.parent(); p.isValid(); p = p.parent()) DirTree1->expand(p);
  if (DirTree1->currentIndex() != dir) DirTree1->setCurrentIndex(dir);
  DirTree1->scrollTo(dir, QAbstractItemView::PositionAtCenter);
}

void TForm11::hideEvent(QHideEvent* e) {
  setAcceptDrops(false);
  revealPending_ = false;
  QWidget::hideEvent(e);
}

void TForm11::closeEvent(QCloseEvent* e) {
  QWidget::closeEvent(e);
  ReleaseDialogForm(objectName());
}

void TForm11::TabControl1Change() {
  const int tab = Tab();
  for (size_t i = 0; i < Lists.size(); ++i) Lists[i]->setVisible(int(i) == tab);
  TMasterDialogState& s = State();
  {
    const QSignalBlocker block(Edit1);
    Edit1->setText(Q(s.Names[size_t(tab)]));
  }
  if (tab < 3) Methods[size_t(s.Methods[size_t(tab)])]->setChecked(true);
  Label1->setText(EditLabels[size_t(tab)]);
  const bool labelled = EditLabels[size_t(tab)][0] != '\0';
  Label1->setVisible(labelled);
  Edit1->setVisible(labelled);
  UpdateButtons();
}

void TForm11::RadioGroup1Click(int index) {
  const int tab = Tab();
  if (tab >= 3) return;
  if (index != 0 && CurrentList()->count() < 3) {
    EngineUi().ShowMessage("Diese Methoden machen nur bei mehr als 2 Dateien einen Sinn.");
    index = 0;
    Methods[0]->setChecked(true);
  }
  State().Methods[size_t(tab)] = TStackMethod(index);
}

void TForm11::Edit1Change(const QString& text) {
  if (Tab() != 2) State().Names[size_t(Tab())] = text.toStdString();
}

void TForm11::DirTree1Change() {
  const QString path = dirs_->filePath(DirTree1->currentIndex());
  if (path.isEmpty() || !QFileInfo(path).isDir()) return;
  files_->setRootPath(path);
  FileListBox1->setRootIndex(files_->index(path));
}

void TForm11::UpdateButtons() {
  bool any = false;
  for (QListWidget* l : Lists) any = any || l->count() > 0;
  Button1->setEnabled(any);
  Edit1->setEnabled(CurrentList()->count() > 0);
}

void TForm11::AddFiles(QListWidget* list, const QStringList& names, const QString& folder) {
  for (const QString& name : names) {
    int at = 0;
    bool present = false;
    for (; at < list->count(); ++at) {
      const int c = QString::compare(list->item(at)->text(), name, Qt::CaseSensitive);
      present = c == 0;
      if (c >= 0) break;
    }
    if (!present) list->insertItem(at, name);
  }
  ListBoxFitScrollWidth(list);
  const int tab = int(std::find(Lists.begin(), Lists.end(), list) - Lists.begin());
  if (!folder.isEmpty() && tab != 2 && tab < 4) {
    std::string& name = State().Names[size_t(tab)];
    name = MoveIntoFolder(name, folder);
    if (tab == Tab()) {
      const QSignalBlocker block(Edit1);
      Edit1->setText(Q(name));
    }
  }
  UpdateButtons();
}

void TForm11::ShellDrop(const QMimeData* data) {
  if (!data || !data->hasUrls()) return;
  QStringList names;
  QString folder;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    if (!AcceptedImageExtension(path.toStdString())) continue;
    names << path;
    folder = QFileInfo(path).absolutePath();
  }
  if (names.isEmpty()) return;
  AddFiles(CurrentList(), names, Tab() == 2 ? QString() : folder);
}

void TForm11::RemoveSelected(QListWidget* list) {
  if (!list) return;
  qDeleteAll(list->selectedItems());
  ListBoxFitScrollWidth(list);
  UpdateButtons();
}

void TForm11::Allesauswhlen1Click() {
  if (popupList_) popupList_->selectAll();
}

void TForm11::DropFromFileList(QListWidget* list) {
  QStringList names;
  for (const QModelIndex& i : FileListBox1->selectionModel()->selectedIndexes()) names << files_->filePath(i);
  AddFiles(list, names, Folder());
}

bool TForm11::ListDrop(QListWidget* list, QDropEvent* e) {
  if (e->source() == FileListBox1) {
    DropFromFileList(list);
  } else if (!e->source()) {
    ShellDrop(e->mimeData());
  } else {
    return false;
  }
  AcceptAsCopy(e);
  return true;
}

bool TForm11::eventFilter(QObject* watched, QEvent* e) {
  const QEvent::Type t = e->type();
  if (watched == DirTree1 || watched == treeViewport_) {
    // The user works in the tree: it stays where they put it.
    if (t == QEvent::MouseButtonPress || t == QEvent::KeyPress || t == QEvent::Wheel) revealPending_ = false;
    return QWidget::eventFilter(watched, e);
  }
  auto isList = [this](QObject* o) { return std::find(Lists.begin(), Lists.end(), o) != Lists.end(); };
  if (watched == Image1) {
    if (t == QEvent::DragEnter || t == QEvent::DragMove) {
      auto* d = static_cast<QDropEvent*>(e);
      if (isList(d->source())) AcceptAsCopy(d); else d->ignore();
      return true;
    }
    if (t == QEvent::Drop) {
      auto* d = static_cast<QDropEvent*>(e);
      if (isList(d->source())) {
        RemoveSelected(static_cast<QListWidget*>(d->source()));
        AcceptAsCopy(d);
      }
      return true;
    }
    if (t == QEvent::MouseButtonPress) {
      RemoveSelected(CurrentList());
      return true;
    }
    return false;
  }
  if (isList(watched) && t == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Delete) {
    RemoveSelected(static_cast<QListWidget*>(watched));
    return true;
  }
  for (QListWidget* l : Lists) {
    if (watched != l->viewport()) continue;
    if (t == QEvent::DragEnter || t == QEvent::DragMove) {
      auto* d = static_cast<QDropEvent*>(e);
      if (d->source() == FileListBox1 || (!d->source() && d->mimeData()->hasUrls())) AcceptAsCopy(d);
      else d->ignore();
      return true;
    }
    if (t == QEvent::Drop) {
      ListDrop(l, static_cast<QDropEvent*>(e));
      return true;
    }
  }
  return QWidget::eventFilter(watched, e);
}

void TForm11::dragEnterEvent(QDragEnterEvent* e) {
  if (!e->source() && e->mimeData()->hasUrls()) AcceptAsCopy(e);
}

void TForm11::dropEvent(QDropEvent* e) {
  if (e->source()) return;
  ShellDrop(e->mimeData());
  AcceptAsCopy(e);
}

void TForm11::Button1Click() {
  if (Running) return;
  Running = true;
  TStatusProgress progress(this);
  TMasterDialogState& s = State();
  try {
    if (multifocus_) {
      const int result = BuildMultifocusImage(Items(Lists[3]), s.Names[3], progress);
      if (result > 0) ShowImageWindow(result);
    } else {
      TMasterJob job;
      TMasterList* lists[] = {&job.Darks, &job.Flats, &job.FlatDarks};
      for (size_t i = 0; i < 3; ++i) {
        lists[i]->Files = Items(Lists[i]);
        lists[i]->Method = s.Methods[i];
        lists[i]->FileName = s.Names[i];
      }
      BuildMasterFrames(job, progress);
      s.Names[0] = job.Darks.FileName;
      s.Names[1] = job.Flats.FileName;
    }
  } catch (...) {
    Running = false;
    throw;
  }
  Running = false;
  if (isVisible()) TabControl1Change();
}

TForm11* MasterDialog() { return dynamic_cast<TForm11*>(DialogForm(FormNumber)); }

bool MasterDialogShown() {
  TForm11* f = MasterDialog();
  return Running || (f && f->isVisible());
}

TForm11& ShowMasterDialog() {
  RegisterDialogForm(FormNumber, [] { return new TForm11; });
  EnsureDialogForm(FormNumber);
  TForm11* form = MasterDialog();
  if (form->isVisible()) form->Configure();
  FadeInForm(form);
  return *form;
}

}  // namespace astrelon
