#include "shell/ui/menu/main_commands.h"

#include <QAction>
#include <QCursor>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>
#include <QUrl>
#include <algorithm>
#include <array>
#include <filesystem>

#include "common/engine_ui.h"
#include "common/paths.h"
#include "core/batch_state.h"
#include "core/busy_cursor.h"
#include "core/language.h"
#include "core/settings.h"
#include "pixelops/pixels/invert_image.h"
#include "shell/display/user_palette.h"
#include "shell/main/main_services.h"
#include "shell/slots/slot_orientation.h"
#include "shell/ui/controls/control_utils.h"
#include "shell/ui/dialogs/about_box.h"
#include "shell/ui/dialogs/help_window.h"
#include "shell/ui/dialogs/list_chooser.h"
#include "shell/ui/dialogs/small_dialogs.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/main/main_window_marks.h"
#include "shell/ui/menu/main_menu.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/side_panel/side_panel.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/histogram_refresh.h"
#include "shell/windows/image_window_state.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/slot_holds.h"
#include "store/ui/clipboard_paste.h"
#include "store/ui/file_menu.h"

namespace astrelon {

namespace {

QWidget* Window() { return MainLink().Window.data(); }
QMdiArea* Area() { return MainLink().MdiArea.data(); }

// Image windows in the order the area holds them (creation order).
QList<QMdiSubWindow*> ImageSubWindows() {
  QMdiArea* area = Area();
  return area ? area->subWindowList(QMdiArea::CreationOrder) : QList<QMdiSubWindow*>();
}

// Side by side (vertical tiles) or one above the other.
void TileWindows(bool sideBySide) {
  QMdiArea* area = Area();
  if (!area) return;
  QList<QMdiSubWindow*> windows;
  for (QMdiSubWindow* w : ImageSubWindows())
    if (w->isVisible() && !w->isMinimized()) windows << w;
  if (windows.isEmpty()) return;
  const QRect r = area->viewport()->rect();
  const int n = int(windows.size());
  for (int i = 0; i < n; ++i) {
    QMdiSubWindow* w = windows[i];
    if (w->isMaximized()) w->showNormal();
    const QRect cell = sideBySide ? QRect(r.width() * i / n, 0, r.width() * (i + 1) / n - r.width() * i / n, r.height())
                                  : QRect(0, r.height() * i / n, r.width(), r.height() * (i + 1) / n - r.height() * i / n);
    w->setGeometry(cell);
  }
}

// The minimised windows' icons in a row along the bottom of the area.
void ArrangeIcons() {
  QMdiArea* area = Area();
  if (!area) return;
  int x = 0;
  const int bottom = area->viewport()->height();
  for (QMdiSubWindow* w : ImageSubWindows()) {
    if (!w->isMinimized()) continue;
    w->move(x, bottom - w->height());
    x += w->width();
  }
}

struct TToolWindows {
  std::array<QPointer<QWidget>, 4> Windows;
};
TToolWindows& Tools() {
  static TToolWindows t;
  return t;
}

// "1..100" or the translated title; the quality stays when the text is no number.
void JpegQuality() {
  const std::string title = LangText(LangKey(1, 1, 2, 5));
  const QString caption = title.empty() ? QString::fromUtf8("JPEG Qualität:") : QString::fromStdString(title).remove('&');
  const QString prompt = title.empty() ? QString::fromUtf8("1..100 (höhere Werte -> besseres Bild)") : "1..100";
  const QString answer = LangInputBox(caption, prompt, QString::number(Settings.JpegQuality));
  int32_t value = 0;
  try {
    value = StrToIntTrim(answer.toStdString());
  } catch (const std::exception&) {
    EngineUi().ShowMessage("'" + answer.toStdString() + "' ist kein gültiger Integerwert");
    return;
  }
  Settings.JpegQuality = std::clamp(value, 1, 100);
}

void InfoPanelToggle(QAction* item) {
  TSidePanel* panel = MainLink().Panel;
  if (!panel) return;
  const bool show = !panel->isVisible();
  panel->setVisible(show);
  Settings.InfoPanelVisible = show ? 1 : 0;
  if (QAction* a = item ? item : MainMenuItem("InfoPanel1")) a->setChecked(show);
  if (MainLink().SetInfoPanelMode) {
    if (show && ToolMode == 2) MainLink().SetInfoPanelMode(2);
    if (!show) MainLink().SetInfoPanelMode(1);
  }
}

void ShowHelpPage(QAction* item, int page) {
  QMainWindow* main = qobject_cast<QMainWindow*>(Window());
  TForm14* help = main ? main->findChild<TForm14*>() : nullptr;
  if (!help) return;
  help->ShowPage(page, item ? QString(item->text()).remove('&') : QString());
}

}  // namespace

// ---- the picture buttons ----

namespace {
// The active slot for a command that changes it in place; 0 when there is none
// or a running operation or its workers hold it.
int ActiveSlotToChange() {
  const int slot = FindActiveSlot();
  return slot >= 1 && !SlotBusy(slot) ? slot : 0;
}

// Mirror and flip: in place, with the marks hidden and the undo entries dropped.
void TurnActiveImageOver(bool (*turn)(int slot)) {
  const int slot = ActiveSlotToChange();
  if (slot < 1) return;
  TBusyCursorScope busy;
  HideWindowMarks(slot);
  if (!turn(slot)) return;
  ImageChanged(slot);
  ReleaseWindowUndo(slot);
}
}  // namespace

void MirrorActiveImage() { TurnActiveImageOver(&MirrorSlotHorizontal); }
void FlipActiveImage() { TurnActiveImageOver(&FlipSlotVertical); }

void RotateActiveImage() {
  const int slot = ActiveSlotToChange();
  if (slot < 1) return;
  TMDIChild* w = ImageWindow(slot);
  const TImageSlot& im = Store.Image[size_t(slot)];
  TBusyCursorScope busy;
  HideWindowMarks(slot);
  if (!RotateSlotRight90(slot)) return;
  SetMainStatusText(1, QString::fromStdString(LangTextOr(LangKey(10, 1), "Größe")) + ": " + QString::number(im.Width) +
                           " x " + QString::number(im.Height));
  if (w)
    w->SizePanel->setText(QString::fromStdString(LangTextOr(LangKey(10, 1), "Größe")) + ": " +
                          QString::number(im.Width) + " x " + QString::number(im.Height));
  ImageChanged(slot);
  ReleaseWindowUndo(slot);
  // The window takes the turned image's shape.
  FitWindowToImage(slot);
}

void InvertActiveImage() {
  const int slot = ActiveSlotToChange();
  if (slot < 1) return;
  TBusyCursorScope busy;
  SetWorkRectFromWindow(slot, 1, false);
  if (!InvertImage(slot)) return;
  ComputeHistogram(slot, false, true);
  ReleaseWindowUndo(slot);
  RefreshHistogramWindow();
  ClearHistogramChangePending();
  ImageChanged(slot);
}

void CopyActiveImage() {
  if (FindActiveSlot() < 1) return;
  if (NewResultSlot()) ShowImageWindow(SlotPair.Destination);
  SlotPair = {};
}

// ---- palette, recent files, Ctrl+J, F4 ----

void ChooseOwnPalette() {
  const std::string translated = LangText(LangKey(2, 10, 10));
  const QString text = !translated.empty()
                           ? QString::fromStdString(translated)
                           : QString::fromUtf8("Die 16 Bit Palette wird als BMP oder PNG Bild mit 256x256 Pixeln geladen.\n\r"
                                               "Die Pixel stellen die Paletteneinträge von Dunkel (links oben)\n\r"
                                               "bis Hell (rechts unten) dar.");
  if (LangMessageBox(text, TMsgDlgType::Confirmation, mbOK | mbCancel) == mrOk) {
    const QString name = QFileDialog::getOpenFileName(Window(), {}, {}, "Palette (*.png *.bmp *.PNG *.BMP)", nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (!name.isEmpty()) LoadOwnPaletteFile(name.toStdString());
  } else {
    ForgetOwnPalette();
  }
  for (int s = 1; s <= MaxImageSlots; ++s) {
    if (!SlotInUse(s) || !ImageWindow(s) || Store.Display[size_t(s)].DisplayType != DtOwnPalette) continue;
    if (!UserPaletteUsable()) Store.Display[size_t(s)].DisplayType = DtGrey;
    ImageChanged(s);
  }
  if (const int a = FindActiveSlot(); a > 0) UpdateInfoPanel(a, 0);
}

void OpenRecentFile(const std::string& fileName) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fileName, ec)) {
    for (int k = 1; k <= RecentFileCount; ++k)
      if (Settings.RecentFiles[size_t(k)] == fileName) {
        RemoveRecentFile(k);
        break;
      }
    return;
  }
  if (FindFreeSlot() < 1) {
    EngineUi().ShowMessage(TooManyImagesText());
    return;
  }
  if (OpenChosenFiles({fileName}, DefaultOpenSteps()).empty() && SlotInUse(FindActiveSlot()))
    Settings.OpenDialogFileName = fileName;
}

void AskJpegQuality() { JpegQuality(); }

void ShowRecentFunctionsPopup() {
  QMdiArea* area = Area();
  if (!area || area->subWindowList().isEmpty() || OperationRunning || BatchRunning) return;
  if (QMainWindow* main = qobject_cast<QMainWindow*>(Window()))
    if (TForm4* chooser = main->findChild<TForm4*>(); chooser && chooser->isVisible()) return;
  CallUpdateMenuItems();
  QMenu* menu = RecentFunctionsMenu();
  for (QAction* a : menu->actions()) {
    const QAction* same = FindMenuItemByCaption(a->text());
    a->setEnabled(!same || same->isEnabled());
  }
  menu->popup(QCursor::pos());
}

// ---- tool windows ----

void AttachToolWindow(TToolWindow kind, QWidget* window) {
  Tools().Windows[size_t(kind)] = window;
  switch (kind) {
    case TToolWindow::Histogram:
      RegisterFollowingWindow(window, [](QWidget* w) {
        Settings.HistLeft = w->x();
        Settings.HistTop = w->y();
      });
      RegisterMenuCommand("Histogramm1", [](QAction* item) {
        ToggleToolWindow(item ? item : MainMenuItem("Histogramm1"), ToolWindow(TToolWindow::Histogram));
        Settings.HistogramMenuChecked = MainMenuItem("Histogramm1") && MainMenuItem("Histogramm1")->isChecked();
      });
      break;
    case TToolWindow::Header:
      RegisterFollowingWindow(window);
      RegisterMenuCommand("FitsHeader1", [](QAction* item) {
        ToggleToolWindow(item ? item : MainMenuItem("FitsHeader1"), ToolWindow(TToolWindow::Header));
        Settings.FitsHeaderChecked = MainMenuItem("FitsHeader1") && MainMenuItem("FitsHeader1")->isChecked();
      });
      break;
    case TToolWindow::Settings:
      RegisterMenuCommand("Einstellungen1", [](QAction*) {
        QWidget* w = ToolWindow(TToolWindow::Settings);
        if (!w) return;
        if (w->isHidden())
          FadeInForm(w);
        else
          w->raise();
      });
      break;
    case TToolWindow::Filter:
      MainLink().FilterDialogVisible = [] {
        QWidget* w = ToolWindow(TToolWindow::Filter);
        return w && w->isVisible();
      };
      break;
  }
  CallUpdateMenuItems();
}

QWidget* ToolWindow(TToolWindow kind) { return Tools().Windows[size_t(kind)].data(); }

void ToggleToolWindow(QAction* item, QWidget* window) {
  if (!window) return;
  const bool checked = item ? !item->isChecked() : window->isHidden();
  if (item) item->setChecked(checked);
  if (checked) {
    window->raise();
    FadeInForm(window);
  } else {
    window->hide();
  }
}

// ---- registration ----

void RegisterMainWindowCommands() {
  RegisterMenuCommand("BildausZwischenspeichereinfgen1", [](QAction*) { PasteClipboardImage(); });
  RegisterMenuCommand("FileExitItem", [](QAction*) {
    if (QWidget* w = Window()) w->close();
  });
  RegisterMenuCommand("LetzteFunktionen1", [](QAction*) { ShowRecentFunctionsPopup(); });
  RegisterMenuCommand("nurfrKeyShortcur1", [](QAction*) { AskJpegQuality(); });

  RegisterMenuCommand("WindowCascadeItem", [](QAction*) {
    if (QMdiArea* a = Area()) a->cascadeSubWindows();
  });
  RegisterMenuCommand("WindowTileItem", [](QAction*) { TileWindows(true); });
  RegisterMenuCommand("bereinander1", [](QAction*) { TileWindows(false); });
  RegisterMenuCommand("WindowArrangeItem", [](QAction*) { ArrangeIcons(); });
  RegisterMenuCommand("WindowMinimizeItem", [](QAction*) {
    const QList<QMdiSubWindow*> windows = ImageSubWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) (*it)->showMinimized();
  });
  RegisterMenuCommand("AufBildgre1", [](QAction*) {
    QMdiArea* area = Area();
    QMdiSubWindow* w = area ? area->activeSubWindow() : nullptr;
    if (!w) return;
    w->showNormal();
    if (const int slot = FindActiveSlot(); slot > 0) FitWindowToImage(slot);
  });
  RegisterMenuCommand("AlleaufBildgre1", [](QAction*) {
    for (int s = 1; s <= MaxImageSlots; ++s)
      if (ImageWindow(s)) FitWindowToImage(s);
  });
  RegisterMenuCommand("InfoPanel1", [](QAction* item) { InfoPanelToggle(item); });

  RegisterMenuCommand("ZurBildaddition1", [](QAction* item) { ShowHelpPage(item, 1); });
  RegisterMenuCommand("ZurBatchBearbeitung1", [](QAction* item) { ShowHelpPage(item, 2); });
  RegisterMenuCommand("Tips1", [](QAction* item) { ShowHelpPage(item, 3); });
  RegisterMenuCommand("KurzanleitungimWeb1", [](QAction*) {
    // The short guide shipped with the program, shown by the default browser.
    const std::string page = FindFileInFolders(ProgramDataFolders(), HelpPageName);
    if (page.empty()) {
      EngineUi().ShowMessage(std::string("Die Kurzanleitung \"") + HelpPageName + "\" wurde nicht gefunden.");
      return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(page)));
  });
  RegisterMenuCommand("HelpAboutItem", [](QAction*) { ShowAboutBox(nullptr); });
}

}  // namespace astrelon
