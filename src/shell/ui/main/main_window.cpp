#include "shell/ui/main/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMdiArea>
#include <QMenuBar>
#include <QStatusTipEvent>

#include "core/run_state.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/main/menu_commands.h"
#include "store/ui/file_menu.h"

namespace astrelon {

std::function<void(int)> TMainForm::ShowImageWindowHook;

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
  MdiArea = new QMdiArea(this);
  setCentralWidget(MdiArea);
  resize(1024, 768);
  CommandLineFiles = std::move(commandLineFiles);
  AttachMainWindow(this, MdiArea);
  // The File menu's open, close and Save As commands.
  BuildFileMenu(menuBar()->addMenu("&Datei"), this);
  ConnectMenuCommands(menuBar());
  FormCreate();
}

TMainForm::~TMainForm() { FormDestroy(); }

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

}  // namespace astrelon
