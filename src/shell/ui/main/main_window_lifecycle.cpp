// The program's start (FormCreate), the command-line timer, the close query and
// the program's end (FormDestroy).
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include "app/startup.h"
#include "common/engine_ui.h"
#include "core/language.h"
#include "core/packed_params.h"
#include "core/run_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "shell/main/main_texts.h"
#include "shell/ui/main/main_status_bar.h"
#include "shell/ui/main/main_translation.h"
#include "shell/ui/menu/main_menu_state.h"
#include "shell/ui/qt_translations.h"
#include "shell/ui/side_panel/side_panel.h"
#include "shell/ui/tool_bar/main_tool_bar.h"
#include <QSpinBox>
#include "shell/ui/dialogs/help_window.h"
#include "shell/ui/dialogs/list_chooser.h"
#include "shell/ui/header/header_window.h"
#include "shell/ui/histogram/histogram_window.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/main/open_by_name.h"
#include "shell/ui/qt_engine_ui.h"
#include "shell/ui/settings/settings_dialog.h"
#include "store/slot_holds.h"

namespace astrelon {

namespace {

// 90 % of the smallest screen the first run is laid out for (1280 x 800).
constexpr QSize FirstRunMinimumSize(1152, 720);

}  // namespace

void TMainForm::FormCreate() {
  // Numbers are formatted and parsed with "." for the whole process; Qt has set
  // the C library's locale from the environment.
  std::setlocale(LC_NUMERIC, "C");
  // Settings, tables, translation, processor: each step keeps its defaults on failure.
  RunEngineStartup();
  CommandLineOpened = 0;
  // Qt's own dialogs and buttons speak German unless a translation file chose a language.
  InstallQtTranslations();
  ResetMainTexts();
  BuildChrome();

  try {
    ApplyWindowSettings();
  } catch (...) {
  }

  InstallMainServices();
  // The menus follow the active image window.
  activeFormHandler_ = connect(MdiArea, &QMdiArea::subWindowActivated, this, [] { CallUpdateMenuItems(); });

  QtEngineUi().StatusSink = [this](const std::string& text) {
    statusBar()->showMessage(QString::fromStdString(text));
  };
  SetEngineUi(&QtEngineUi());
  hintHandlerInstalled_ = true;

  CreateFixedForms();

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(250);
  connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
  Timer1->start();
}

void TMainForm::CreateFixedForms() {
  CreateHistogramWindow(this);
  CreateHeaderWindow(this);
  CreateSettingsDialog(this);
  Form4 = new TForm4(this);
  Form14 = new TForm14(this);
}

void TMainForm::ApplyWindowSettings() {
  const auto& S = Settings;
  // Without stored bounds the window takes about 80 % of the screen's free area,
  // centred, and at least FirstRunMinimumSize of it: beside a first image the
  // image area keeps a corner for the histogram window.
  if (S.MainLeft == 0 && S.MainTop == 0 && S.MainWidth == 640 && S.MainHeight == 480) {
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
      const QRect free = s->availableGeometry();
      const QSize size =
          QSize(free.width() * 4 / 5, free.height() * 4 / 5).expandedTo(FirstRunMinimumSize).boundedTo(free.size());
      resize(size);
      move(free.left() + (free.width() - size.width()) / 2, free.top() + (free.height() - size.height()) / 2);
      return;
    }
  }
  if (S.MainWidth > 0 && S.MainHeight > 0) {
    // The window is at most as large as the desktop, whatever the file says.
    QSize size(S.MainWidth, S.MainHeight);
    if (const QScreen* s = QGuiApplication::primaryScreen())
      size = size.boundedTo(s->availableVirtualGeometry().size().expandedTo(QSize(1, 1)));
    resize(size);
  }
  // The position stays within the desktop's reach (a window can be pushed partly
  // off screen, but a position near the integer limits overflows Qt's geometry).
  int left = S.MainLeft, top = S.MainTop;
  if (const QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect desk = s->availableVirtualGeometry();
    left = int(std::clamp<int64_t>(left, int64_t(desk.left()) - width(), desk.right()));
    top = int(std::clamp<int64_t>(top, int64_t(desk.top()) - height(), desk.bottom()));
  }
  move(left, top);
}

void TMainForm::CollectWindowSettings() {
  auto& S = Settings;
  S.MainLeft = x();
  S.MainTop = y();
  S.MainWidth = width();
  S.MainHeight = height();
}

void TMainForm::Timer1Timer() {
  if (CommandLineOpened < int32_t(CommandLineFiles.size())) {
    ++CommandLineOpened;
    // A message about a file that cannot be read waits for the user; the next
    // file follows one tick after it, not while the message is open.
    Timer1->stop();
    OpenFileByName(CommandLineFiles[size_t(CommandLineOpened - 1)]);
    if (!destroyed_) Timer1->start();
  } else {
    Timer1->stop();
  }
}

void TMainForm::FormShow() {
  if (!shownBefore_) {
    shownBefore_ = true;
    // The translation file's texts (only with one; errors end this silently).
    TranslateMainWindow(this, ToolBar1);
    try {
      ToolBar1->RecolourToolbarButtons(Options.ToolbarTint == 1);
      ToolBar1->SetShiftModeButton();
    } catch (...) {
    }
    try {
      ShowCpuFeatures();
    } catch (...) {
    }
    if (const int stamp = GetParamDigits(15); stamp >= 1) Panel1->SpinEdit2->setValue(stamp);
  }
  PadInfoLabels();
  if (FirstShowPending) {
    FirstShowPending = 0;
    // The remembered recent functions, the first one ending on top.
    try {
      RestoreRecentFunctions(this);
    } catch (...) {
    }
  }
  lastBounds_ = frameGeometry();
  UpdateMenuItems();
}

void TMainForm::FormCloseQuery() {
  CloseRequested = 1;
  Closing = 1;
}

void TMainForm::ApplicationHint(const QString& hint) {
  static std::mt19937 random{std::random_device{}()};
  const double r = std::uniform_real_distribution<double>(0.0, 1.0)(random);
  statusBar()->showMessage(hint + QString::fromStdString(LanguageVersionNote(r)));
}

void TMainForm::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  if (Timer1) Timer1->stop();
  QCoreApplication::processEvents();

  // A running operation is asked to stop and given a bounded time to do so.
  bool stopped = true;
  if (OperationStillRunning()) {
    RaiseAbortFlags();
    stopped = WaitForRunningOperation([] { QCoreApplication::processEvents(); }, ShutdownWaitMs);
  }

  hintHandlerInstalled_ = false;
  disconnect(activeFormHandler_);
  // The main window's parts are going: nobody calls them any more.
  TMainWindowLink& link = MainLink();
  link.SetStatusText = nullptr;
  link.UpdateStatusBar = nullptr;
  link.UpdateMenuItems = nullptr;
  link.SetCropButtonEnabled = nullptr;
  SlotGuardChangedHook = nullptr;
  link.ColourSpaceButtonEnabled = nullptr;
  link.UpdateInfoPanelControls = nullptr;
  link.SetZoomCaption = nullptr;
  link.ClosingOrMinimising = true;
  QtEngineUi().StatusSink = nullptr;
  SetEngineUi(nullptr);

  if (CloseRequested) {
    try {
      CollectWindowSettings();
      WriteSettings();
    } catch (...) {
    }
  }

  // Worker threads that did not stop may still use the images: end the process
  // here, without running the destructors of objects they use.
  if (!stopped) {
    std::fflush(nullptr);
    std::_Exit(0);
  }
}

}  // namespace astrelon
