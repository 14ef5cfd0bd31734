#pragma once
#include <functional>
#include <string>
#include <vector>

#include <QMainWindow>

class QMdiArea;
class QTimer;

namespace astrelon {

class TForm4;
class TForm14;

// The main window: menus, tool bar, side panels, status bar and the image windows.
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
  QTimer* Timer1 = nullptr;  // opens the command-line files, every 250 ms
  TForm4* Form4 = nullptr;    // list chooser, created at start and reused
  TForm14* Form14 = nullptr;  // help window, created at start and reused

  // Shows the image window of a slot that a loader has just filled (set by the image windows).
  static std::function<void(int slot)> ShowImageWindowHook;

  // Start-up and shut-down steps (main_window_lifecycle.cpp).
  void FormCreate();
  void Timer1Timer();
  void FormShow();
  void FormCloseQuery();
  void FormDestroy();
  // How long shut-down waits for a running operation before it ends the program anyway.
  int ShutdownWaitMs = 7000;

protected:
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  bool event(QEvent* e) override;

private:
  void CreateFixedForms();
  void ApplyWindowSettings();
  void CollectWindowSettings();
  void ApplicationHint(const QString& hint);

  bool hintHandlerInstalled_ = false;
  bool shownBefore_ = false;
  QMetaObject::Connection activeFormHandler_;
  bool destroyed_ = false;
};

}  // namespace astrelon
