#include "shell/ui/windows/window_creation.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenu>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QWheelEvent>

#include "core/batch_state.h"
#include "core/language.h"
#include "core/settings.h"
#include "shell/display/renderer.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_placement.h"
#include "shell/windows/image_window_state.h"
#include "shell/windows/window_coordinates.h"
#include "shell/windows/zoom_steps.h"
#include "store/initial_zoom.h"

namespace astrelon {

TRememberedWindowPosition RememberedWindowPosition;
bool BatchStartPending = false;
std::function<void(int)> WindowCreatedHook;
std::function<void(int)> WindowZoomedHook;

namespace {

bool FramesMeasured = false;

int StatusBarHeight(const TMDIChild& w) { return w.StatusBar1->sizeHint().height(); }

// Room for a window's own scroll bar.
int ScrollBarRoom() { return std::max(20, qApp->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2); }

// The picture control's size at the slot's zoom.
QSize PictureSize(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int z = Store.Display[size_t(slot)].ZoomPercent;
  return {int(std::max<int64_t>(1, int64_t(im.Width) * z / 100)), int(std::max<int64_t>(1, int64_t(im.Height) * z / 100))};
}

// The renderer built or reused a window's picture: show it at the zoom.
void WindowRendered(int slot, bool) {
  TMDIChild* w = ImageWindow(slot);
  if (!w) return;
  w->Image1->SetPicture(WindowBitmap(slot));
  const QSize size = PictureSize(slot);
  if (w->Image1->size() != size) w->Image1->resize(size);
  w->Image1->update();
  ShowZoomStatus(slot);
  SetWindowCaption(slot);
}

TZoomRoom LoaderZoomRoom() {
  UpdateWindowArea();
  TZoomRoom room;
  room.ZoomCode = CurrentZoomCode();
  room.FreeWidth = MainWindowArea.FreeWidth - MainWindowArea.FrameWidth;
  room.FreeHeight = MainWindowArea.FreeHeight - MainWindowArea.FrameHeight;
  return room;
}

QMenu* ZoomMenu() {
  static QPointer<QMenu> menu;
  if (!menu) {
    menu = new QMenu(MainLink().Window.data());
    for (auto it = ZoomSteps.rbegin(); it != ZoomSteps.rend(); ++it) {
      const int percent = *it;
      QAction* a = menu->addAction(QString::number(percent) + "%");
      a->setData(percent);
      QObject::connect(a, &QAction::triggered, [percent] { ZoomMenuChoice(percent); });
    }
  }
  return menu;
}

}  // namespace

void UpdateWindowArea() {
  QMdiArea* area = MainLink().MdiArea;
  if (!area) return;
  MainWindowArea.FreeWidth = area->viewport()->width();
  MainWindowArea.FreeHeight = area->viewport()->height();
}

bool HasVerticalScrollBar() {
  QMdiArea* area = MainLink().MdiArea;
  return area && area->verticalScrollBar()->isVisible();
}

bool HasHorizontalScrollBar() {
  QMdiArea* area = MainLink().MdiArea;
  return area && area->horizontalScrollBar()->isVisible();
}

namespace {

// A new window placed where its picture would be cut (the area's next cascade
// place lies low or far right) moves up and left, as far as the area's corner,
// so that it opens at the size of its picture rather than as a strip.
void KeepNewWindowInArea(TMDIChild& w, int slot) {
  const QMdiArea* area = MainLink().MdiArea;
  if (!area || w.isMaximized()) return;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int z = Store.Display[size_t(slot)].ZoomPercent;
  const QPoint place = NewWindowPlace(
      w.pos(), QSize(MainWindowArea.FrameWidth + int(int64_t(im.Width) * z / 100) + 4,
                     MainWindowArea.FrameHeight + int(int64_t(im.Height) * z / 100) + 4 + StatusBarHeight(w)),
      area->viewport()->size());
  if (place != w.pos()) w.move(place);
}

}  // namespace

void CreateMDIChild(int slot) {
  if (slot <= 0 || slot > MaxImageSlots || Store.HasWindow[size_t(slot)]) return;
  QMdiArea* area = MainLink().MdiArea;
  if (!area) return;
  TDisplayRecord& d = Store.Display[size_t(slot)];
  d.Changed = 1;
  d.ZoomPercent = 100;

  auto* w = new TMDIChild;
  area->addSubWindow(w);
  Store.Window[size_t(slot)] = w;
  Store.HasWindow[size_t(slot)] = 1;
  w->Tag = slot;
  if (BatchRunning && !BatchStartPending && RememberedWindowPosition.Valid)
    w->move(RememberedWindowPosition.Left, RememberedWindowPosition.Top);
  w->show();

  // The frame can only be measured once the window is laid out on a shown main
  // window; until then a negative or zero difference is not a frame size.
  if (!FramesMeasured && w->widget()) {
    const int fw = w->width() - w->widget()->width();
    const int fh = w->height() - w->widget()->height();
    if (fw >= 0 && fh > 0) {
      MainWindowArea.FrameWidth = fw;
      MainWindowArea.FrameHeight = fh;
      FramesMeasured = true;
    }
  }
  w->setMinimumSize(MainWindowArea.FrameWidth + 187, MainWindowArea.FrameHeight + 4 + StatusBarHeight(*w));

  const TImageSlot& im = Store.Image[size_t(slot)];
  const int code = CurrentZoomCode();
  if (code != 0) {
    d.ZoomPercent = std::min(MaxZoomStepForImage(slot), ZoomCodePercent(code));
  } else {
    UpdateWindowArea();
    d.ZoomPercent = AutozoomPercent(im.Width, im.Height, MainWindowArea.FreeWidth - MainWindowArea.FrameWidth,
                                    MainWindowArea.FreeHeight - MainWindowArea.FrameHeight);
  }
  w->SizePanel->setText(QString::fromStdString(LangTextOr(LangKey(10, 1), "Größe")) + ": " +
                        QString::number(im.Width) + " x " + QString::number(im.Height));
  ShowZoomStatus(slot);
  if (!(BatchRunning && !BatchStartPending && RememberedWindowPosition.Valid)) KeepNewWindowInArea(*w, slot);
  FitWindowToImage(slot);
  UpdateInfoPanel(slot, 0);
  if (WindowCreatedHook) WindowCreatedHook(slot);
}

void ShowImageWindow(int slot) {
  CreateMDIChild(slot);
  RenderImageWindow(slot, false);
}

void FitWindowToImage(int slot) {
  TMDIChild* w = ImageWindow(slot);
  if (!w || w->isMinimized()) return;
  QMdiArea* area = MainLink().MdiArea;
  const TImageSlot& im = Store.Image[size_t(slot)];
  const int z = Store.Display[size_t(slot)].ZoomPercent;
  const int w0 = int(int64_t(im.Width) * z / 100) + 4;
  const int h0 = int(int64_t(im.Height) * z / 100) + 4 + StatusBarHeight(*w);
  const int frameW = MainWindowArea.FrameWidth, frameH = MainWindowArea.FrameHeight;
  const int freeH = area ? area->viewport()->height() : h0 + frameH;
  const int freeW = area ? area->viewport()->width() : w0 + frameW;
  const int left = std::max(w->x(), 0), top = std::max(w->y(), 0);
  const int room = ScrollBarRoom();
  int width = frameW + w0, height = frameH + h0;
  bool widthCut = false;
  for (int round = 0; round < 4; ++round) {
    bool cut = false;
    height = frameH + h0 + (widthCut ? room : 0);
    bool heightCut = false;
    if (top + height > freeH) {
      height = std::max(freeH - top, frameH + 1);
      heightCut = cut = true;
    }
    width = frameW + w0 + (heightCut ? room : 0);
    widthCut = false;
    if (left + width > freeW) {
      width = std::max(freeW - left, frameW + 1);
      widthCut = cut = true;
    }
    if (!cut) break;
  }
  if (!w->isMaximized()) w->resize(std::max(width, w->minimumWidth()), std::max(height, w->minimumHeight()));
  w->PlaceOverlayAtZoom();
}

void ResizeAndRender(int slot) {
  if (!SlotInUse(slot) || !ImageWindow(slot)) return;
  FitWindowToImage(slot);
  RenderImageWindow(slot, false);
  if (WindowZoomedHook) WindowZoomedHook(slot);
}

void RedrawWindowZoom(int slot) {
  if (slot < 1 || !SlotInUse(slot)) return;
  ShowZoomStatus(slot);
  ResizeAndRender(slot);
  CallUpdateStatusBar();
}

void SetZoomCode(int listIndex) {
  if (listIndex < 0 || listIndex >= ZoomListCount) return;
  Settings.ZoomEntry = listIndex;
  if (MainLink().SetZoomCaption) {
    const QString caption = listIndex == 0 ? QString::fromStdString(LangTextOr(LangKey(2, 9, 1), "Autozoom"))
                                           : QString::number(ZoomListPercents[size_t(listIndex)]) + "%";
    MainLink().SetZoomCaption(caption);
  }
  if (ZoomListCodes[size_t(listIndex)] == 0) return;
  for (int s = 1; s <= MaxImageSlots; ++s) {
    if (!SlotInUse(s) || !ImageWindow(s)) continue;
    const int z = std::min(MaxZoomStepForImage(s), ZoomListPercents[size_t(listIndex)]);
    if (z != Store.Display[size_t(s)].ZoomPercent) {
      Store.Display[size_t(s)].ZoomPercent = z;
      RedrawWindowZoom(s);
    }
  }
}

void ZoomAtPoint(int slot, QPoint globalPos, bool zoomIn) {
  TMDIChild* w = ImageWindow(slot);
  if (!w || w->isMinimized() || !SlotInUse(slot)) return;
  TDisplayRecord& d = Store.Display[size_t(slot)];
  const int oldZoom = d.ZoomPercent;
  if (zoomIn ? MaxZoomStepForImage(slot) <= oldZoom : oldZoom <= ZoomSteps.front()) return;
  const QPoint o = globalPos - w->Image1->mapToGlobal(QPoint(0, 0));
  const int newZoom = zoomIn ? ZoomStepUp(oldZoom) : ZoomStepDown(oldZoom);
  d.ZoomPercent = newZoom;
  ShowZoomStatus(slot);
  ResizeAndRender(slot);
  CallUpdateStatusBar();
  // Scroll so that the image point that was under the cursor is under it again.
  const QPoint origin = w->Image1->mapToGlobal(QPoint(0, 0));
  const QPoint delta(origin.x() + o.x() * newZoom / oldZoom - globalPos.x(),
                     origin.y() + o.y() * newZoom / oldZoom - globalPos.y());
  QScrollBar* h = w->ScrollBox1->horizontalScrollBar();
  QScrollBar* v = w->ScrollBox1->verticalScrollBar();
  // A bar with a range is (or is about to be) shown.
  if (h->maximum() > 0) h->setValue(h->value() + delta.x());
  if (v->maximum() > 0) v->setValue(v->value() + delta.y());
  SetMainStatusText(0, {});
}

int ZoomInAtCursor() {
  ZoomAtPoint(CurrentWindowSlot, QCursor::pos(), true);
  return 0;
}

int ZoomOutAtCursor() {
  ZoomAtPoint(CurrentWindowSlot, QCursor::pos(), false);
  return 0;
}

void ShowZoomMenu(int slot, QPoint globalPos) {
  if (slot < 1) return;
  CurrentWindowSlot = slot;
  QMenu* menu = ZoomMenu();
  const int limit = MaxZoomStepForImage(slot);
  for (QAction* a : menu->actions()) {
    const int p = a->data().toInt();
    if (p == 400 || p == 200) a->setEnabled(limit >= p);
  }
  menu->popup(globalPos);
}

void ZoomMenuChoice(int percent) {
  const int slot = CurrentWindowSlot;
  if (percent < 17 || percent > 400 || !SlotInUse(slot) || !ImageWindow(slot)) return;
  Store.Display[size_t(slot)].ZoomPercent = percent;
  RedrawWindowZoom(slot);
}

TPointI ControlToImagePoint(int slot, TPointI p) {
  return ScreenToImagePoint(ValidSlot(slot) ? Store.Display[size_t(slot)].ZoomPercent : 100, {0, 0}, p);
}
TPointI ImageToControlPoint(int slot, TPointI p) {
  return ImageToScreenPoint(ValidSlot(slot) ? Store.Display[size_t(slot)].ZoomPercent : 100, {0, 0}, p);
}
TRectI ControlToImageRect(int slot, TRectI r) {
  return ScreenToImageRect(ValidSlot(slot) ? Store.Display[size_t(slot)].ZoomPercent : 100, {0, 0}, r);
}
TRectI ImageToControlRect(int slot, TRectI r) {
  return ImageToScreenRect(ValidSlot(slot) ? Store.Display[size_t(slot)].ZoomPercent : 100, {0, 0}, r);
}

namespace {
// The wheel over the main window's image area zooms the current window.
class TAreaWheelFilter : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() != QEvent::Wheel) return QObject::eventFilter(watched, e);
    const int dy = static_cast<QWheelEvent*>(e)->angleDelta().y();
    if (dy > 0) ZoomInAtCursor();
    if (dy < 0) ZoomOutAtCursor();
    return true;
  }
};
}  // namespace

void InstallImageWindows() {
  SetWindowRenderedHandler(&WindowRendered);
  ZoomRoomHook = &LoaderZoomRoom;
  InstallMainServices();
  if (QMdiArea* area = MainLink().MdiArea) {
    area->viewport()->installEventFilter(new TAreaWheelFilter(area));
    QObject::connect(area, &QMdiArea::subWindowActivated, area, [](QMdiSubWindow* sub) {
      if (auto* w = dynamic_cast<TMDIChild*>(sub)) w->FormActivate();
    });
  }
}

}  // namespace astrelon
