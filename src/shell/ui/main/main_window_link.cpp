#include "shell/ui/main/main_window_link.h"

#include <QMainWindow>
#include <QMdiArea>
#include <QStatusBar>

#include "shell/ui/main/open_by_name.h"
#include "shell/ui/windows/window_creation.h"

namespace astrelon {

TMainWindowLink& MainLink() {
  static TMainWindowLink link;
  return link;
}

void AttachMainWindow(QMainWindow* window, QMdiArea* area) {
  MainLink().Window = window;
  MainLink().MdiArea = area;
  if (window) InstallFileDrop(window);
  InstallImageWindows();
}

void SetMainStatusText(int panel, const QString& text) {
  TMainWindowLink& link = MainLink();
  if (panel < 0 || panel >= int(link.StatusTexts.size())) return;
  link.StatusTexts[size_t(panel)] = text;
  if (link.SetStatusText) {
    link.SetStatusText(panel, text);
  } else if (link.Window && panel <= 1) {
    // Until the main window has its panels, the first two share its plain status line.
    if (auto* bar = link.Window->findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly))
      bar->showMessage((link.StatusTexts[0] + "   " + link.StatusTexts[1]).trimmed());
  }
}

void CallUpdateStatusBar() {
  if (MainLink().UpdateStatusBar) MainLink().UpdateStatusBar();
}

void CallUpdateMenuItems() {
  if (MainLink().UpdateMenuItems) MainLink().UpdateMenuItems();
}

}  // namespace astrelon
