#pragma once
#include <functional>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QRect>

class QMdiArea;
class QMenu;
class QTimer;

namespace astrelon {

class TForm4;
class TForm14;
class TMainStatusBar;
class TMainToolBar;
class TSidePanel;

// The main window: menus, tool bar, side panel, status bar and the image windows.
// Creating it starts the program (settings, tables, translation, processor);
// closing it records the close request, and FormDestroy (run after the event
// loop, or by the destructor) ends the program and writes the settings.
class TMainForm : public QMainWindow {
  Q_OBJECT
public:
  // The files of the program's command line are opened one per timer tick.
  explicit TMainForm(QWidget* parent = nullptr);
  TMainForm(std::vector<std::string> commandLineFiles, QWidget* parent = nullptr);
  ~TMainForm() override;

  QMdiArea* MdiArea = nullptr;
  TMainToolBar* ToolBar1 = nullptr;
  TSidePanel* Panel1 = nullptr;
  TMainStatusBar* StatusBar = nullptr;
  QMenu* PopupMenu2 = nullptr;  // "Bitmap aus dem Zwischenspeicher laden" on the background
  QTimer* Timer1 = nullptr;     // opens the command-line files, every 250 ms
  TForm4* Form4 = nullptr;      // list chooser, created at start and reused
  TForm14* Form14 = nullptr;    // help window, created at start and reused

  // Start-up and shut-down steps (main_window_lifecycle.cpp).
  void FormCreate();
  void Timer1Timer();
  void FormShow();
  void FormCloseQuery();
  void FormDestroy();
  // How long shut-down waits for a running operation before it ends the program anyway.
  int ShutdownWaitMs = 7000;

  // Main window chrome: the enable rules and the status line.
  void UpdateMenuItems();
  void UpdateStatusBar();
  // Escape: both abort flags are raised.
  void EscapeKey();
  // The application was minimised (hides the histogram window and the filter
  // dialog) or restored (shows them again).
  void ApplicationMinimize();
  void ApplicationRestore();

protected:
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void moveEvent(QMoveEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void changeEvent(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void BuildChrome();
  void CreateFixedForms();
  void ApplyWindowSettings();
  void CollectWindowSettings();
  void ApplicationHint(const QString& hint);
  void BoundsChanged();

  bool hintHandlerInstalled_ = false;
  bool shownBefore_ = false;
  bool filterHiddenByMinimise_ = false;
  QRect lastBounds_;
  QMetaObject::Connection activeFormHandler_;
  bool destroyed_ = false;
};

}  // namespace astrelon
