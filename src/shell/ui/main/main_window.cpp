#include "shell/ui/main/main_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMenu>
#include <QToolButton>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusTipEvent>

#include "core/batch_state.h"
#include "core/run_state.h"
#include "core/settings.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_status_bar.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/main/main_window_marks.h"
#include "shell/ui/menu/main_commands.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/main_menu_state.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/side_panel/side_panel.h"
#include "shell/ui/tool_bar/main_tool_bar.h"
#include "shell/ui/tool_bar/picture_button.h"
#include "store/image_store.h"
#include "store/slot_holds.h"

namespace astrelon {


namespace {
std::vector<std::string> ProgramArguments() {
  std::vector<std::string> files;
  const QStringList args = QCoreApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) files.push_back(args[i].toStdString());
  return files;
}
}  // namespace

TMainForm::TMainForm(QWidget* parent) : TMainForm(ProgramArguments(), parent) {}

TMainForm::TMainForm(std::vector<std::string> commandLineFiles, QWidget* parent) : QMainWindow(parent) {
  setObjectName("MainForm");
  setWindowTitle("Astrelon");
  auto* centre = new QWidget(this);
  auto* layout = new QHBoxLayout(centre);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  MdiArea = new QMdiArea(centre);
  layout->addWidget(MdiArea, 1);
  setCentralWidget(centre);
  resize(1024, 768);
  CommandLineFiles = std::move(commandLineFiles);
  AttachMainWindow(this, MdiArea);
  FormCreate();
}

TMainForm::~TMainForm() { FormDestroy(); }

void TMainForm::BuildChrome() {
  TMainWindowLink& link = MainLink();
  ToolBar1 = new TMainToolBar(this, this);
  addToolBar(Qt::TopToolBarArea, ToolBar1);
  Panel1 = new TSidePanel(centralWidget());
  centralWidget()->layout()->addWidget(Panel1);
  Panel1->setVisible(Settings.InfoPanelVisible != 0);
  StatusBar = new TMainStatusBar(this);
  setStatusBar(StatusBar);
  link.ToolBar = ToolBar1;
  link.Panel = Panel1;
  link.ClosingOrMinimising = false;

  BuildMainMenu(menuBar(), this);
  if (QMenu* file = MainTopMenu(0)) {
    InstallRecentFileMenu(file, nullptr, &OpenRecentFile);
    connect(file, &QMenu::aboutToShow, this, [] { UpdateFileMenuOnOpen(); });
  }
  for (int m : {1, 2})
    if (QMenu* menu = MainTopMenu(m)) connect(menu, &QMenu::aboutToShow, this, [this] { UpdateMenuItems(); });
  if (QAction* a = MainMenuItem("Histogramm1")) a->setChecked(Settings.HistogramMenuChecked != 0);
  if (QAction* a = MainMenuItem("FitsHeader1")) a->setChecked(Settings.FitsHeaderChecked != 0);
  if (QAction* a = MainMenuItem("InfoPanel1")) a->setChecked(Settings.InfoPanelVisible != 0);

  // The background's pop-up: a picture on the clipboard becomes a new image.
  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName("PopupMenu2");
  QAction* paste = PopupMenu2->addAction("Bitmap aus dem Zwischenspeicher laden");
  paste->setObjectName("BildausZwischenspeichereinfgen1");
  ConnectMenuCommands(PopupMenu2);
  MdiArea->viewport()->installEventFilter(this);
  MdiArea->viewport()->setMouseTracking(true);

  link.SetStatusText = [this](int panel, const QString& text) { StatusBar->SetPanelText(panel, text); };
  link.ShowPixelText = [this](const QString& text, bool grey) { StatusBar->ShowPixelText(text, grey); };
  for (int i = 0; i < 4; ++i) StatusBar->SetPanelText(i, link.StatusTexts[size_t(i)]);
  link.UpdateStatusBar = [this] { UpdateStatusBar(); };
  link.UpdateMenuItems = [this] { UpdateMenuItems(); };
  link.SetCropButtonEnabled = [this](bool enabled) {
    ToolBar1->PNGButton[8]->setEnabled(enabled && HasMenuCommand("Ausschneiden1") && !SlotBusy(FindActiveSlot()));
  };
  // Operations and worker holds that start or end refresh the enabling.
  SlotGuardChangedHook = &RefreshCommandEnabling;
  link.ColourSpaceButtonEnabled = [this] { return ToolBar1->RxSpeedButton[2]->isEnabled(); };
  link.UpdateInfoPanelControls = [this](int slot, int partnerToo) { ToolBar1->UpdateInfoPanelControls(slot, partnerToo); };
  link.SetZoomCaption = [this](const QString& caption) { ToolBar1->SetZoomCaption(caption); };
}

void TMainForm::UpdateMenuItems() { UpdateMenuState(); }

void TMainForm::UpdateStatusBar() {
  if (StatusBar) StatusBar->UpdateStatusBar();
}

void TMainForm::closeEvent(QCloseEvent* e) {
  FormCloseQuery();
  e->accept();
}

void TMainForm::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  FormShow();
}

bool TMainForm::event(QEvent* e) {
  if (e->type() == QEvent::StatusTip && hintHandlerInstalled_) {
    ApplicationHint(static_cast<QStatusTipEvent*>(e)->tip());
    return true;
  }
  return QMainWindow::event(e);
}

void TMainForm::EscapeKey() {
  AbortRequested = 1;
  FilterAbortRequested = 1;
  BatchAbort = 1;  // a running batch or master-frame run stops too; each run clears it when it starts
  if (MainLink().EscapePressed) MainLink().EscapePressed();
}

void TMainForm::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    EscapeKey();
    e->accept();
    return;
  }
  QMainWindow::keyPressEvent(e);
}

void TMainForm::BoundsChanged() {
  const QRect now = frameGeometry();
  if (lastBounds_.isValid() && now != lastBounds_) MoveFollowingWindows(lastBounds_, now);
  lastBounds_ = now;
}

void TMainForm::moveEvent(QMoveEvent* e) {
  QMainWindow::moveEvent(e);
  BoundsChanged();
}

void TMainForm::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  BoundsChanged();
}

void TMainForm::ApplicationMinimize() {
  MainLink().ClosingOrMinimising = true;
  if (QWidget* h = ToolWindow(TToolWindow::Histogram)) h->hide();
  QWidget* filter = ToolWindow(TToolWindow::Filter);
  filterHiddenByMinimise_ = filter && filter->isVisible();
  if (filterHiddenByMinimise_) filter->hide();
}

void TMainForm::ApplicationRestore() {
  MainLink().ClosingOrMinimising = false;
  QAction* histogram = MainMenuItem("Histogramm1");
  if (QWidget* h = ToolWindow(TToolWindow::Histogram); h && histogram && histogram->isChecked()) h->show();
  if (QWidget* filter = ToolWindow(TToolWindow::Filter); filter && filterHiddenByMinimise_) filter->show();
  filterHiddenByMinimise_ = false;
}

void TMainForm::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() != QEvent::WindowStateChange) return;
  const auto old = static_cast<QWindowStateChangeEvent*>(e)->oldState();
  if (isMinimized() && !(old & Qt::WindowMinimized)) ApplicationMinimize();
  if (!isMinimized() && (old & Qt::WindowMinimized)) ApplicationRestore();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* e) {
  if (MdiArea && watched == MdiArea->viewport()) {
    if (e->type() == QEvent::MouseMove && MainLink().ClearPsfPanelImages) MainLink().ClearPsfPanelImages();
    if (e->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
      const QMimeData* data = QApplication::clipboard()->mimeData();
      if (data && data->hasImage() && HasMenuCommand("BildausZwischenspeichereinfgen1"))
        PopupMenu2->popup(static_cast<QMouseEvent*>(e)->globalPosition().toPoint());
    }
  }
  return QMainWindow::eventFilter(watched, e);
}

}  // namespace astrelon
