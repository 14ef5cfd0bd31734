#include "shell/ui/main/main_window_link.h"

#include <QMainWindow>
#include <QWidget>
#include <QMdiArea>
#include <QStatusBar>
#include <vector>

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

namespace {
struct TFollower {
  QPointer<QWidget> Window;
  std::function<void(QWidget*)> OnMoved;
};
std::vector<TFollower>& Followers() {
  static std::vector<TFollower> list;
  return list;
}
}  // namespace

void RegisterFollowingWindow(QWidget* window, std::function<void(QWidget*)> onMoved) {
  if (!window) return;
  UnregisterFollowingWindow(window);
  Followers().push_back({window, std::move(onMoved)});
}

void UnregisterFollowingWindow(QWidget* window) {
  auto& list = Followers();
  std::erase_if(list, [window](const TFollower& f) { return !f.Window || f.Window == window; });
}

void MoveFollowingWindows(const QRect& oldBounds, const QRect& newBounds) {
  const QPoint centre = oldBounds.center();
  for (const TFollower& f : Followers()) {
    QWidget* w = f.Window;
    if (!w || !w->isVisible()) continue;
    const QRect r = w->frameGeometry();
    // Right of (below) the main window's centre: with the right (bottom) edge.
    const int dx = r.center().x() >= centre.x() ? newBounds.right() - oldBounds.right() : newBounds.left() - oldBounds.left();
    const int dy = r.center().y() >= centre.y() ? newBounds.bottom() - oldBounds.bottom() : newBounds.top() - oldBounds.top();
    if (dx == 0 && dy == 0) continue;
    w->move(w->pos() + QPoint(dx, dy));
    if (f.OnMoved) f.OnMoved(w);
  }
}

}  // namespace astrelon
