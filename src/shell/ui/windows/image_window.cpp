#include "shell/ui/windows/image_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "core/batch_state.h"
#include "core/language.h"
#include "shell/display/renderer.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/image_window_state.h"
#include "shell/windows/window_coordinates.h"
#include "shell/windows/zoom_steps.h"
#include "store/color_models.h"
#include "store/slot_holds.h"

namespace astrelon {

std::function<bool(TMDIChild&, QMouseEvent*)> TMDIChild::ToolPressHook;
std::function<bool(TMDIChild&, QMouseEvent*)> TMDIChild::ToolMoveHook;
std::function<bool(TMDIChild&, QMouseEvent*)> TMDIChild::ToolReleaseHook;
std::function<void(TMDIChild&, QPoint)> TMDIChild::PixelMenuHook;
std::function<void(TMDIChild&, QPoint, bool)> TMDIChild::RegionMenuHook;
std::function<void(const TKeyStroke&)> TMDIChild::KeyCommandHook;
std::function<void(TMDIChild&, int)> TMDIChild::SelectionChangedHook;
std::function<void(int)> TMDIChild::WindowClosedHook;

namespace {
constexpr Qt::WindowFlags NormalFlags =
    Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
    Qt::WindowCloseButtonHint;
constexpr Qt::WindowFlags LockedFlags =
    Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMaximizeButtonHint;
constexpr int ZoomPanelWidth = 90;
}  // namespace

TMDIChild* ImageWindow(int slot) {
  if (!ValidSlot(slot) || !Store.HasWindow[size_t(slot)]) return nullptr;
  return dynamic_cast<TMDIChild*>(Store.Window[size_t(slot)]);
}

TMDIChild::TMDIChild(QWidget* parent) : QMdiSubWindow(parent) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowFlags(NormalFlags);
  auto* client = new QWidget;
  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  ScrollBox1 = new QScrollArea;
  ScrollBox1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  ScrollBox1->setLineWidth(2);  // 2 pixels a side, as the window sizing expects
  ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ScrollBox1->setWidgetResizable(false);
  ScrollBox1->setBackgroundRole(QPalette::Button);
  Image1 = new TImageView(this);
  Image1->resize(1, 1);
  ScrollBox1->setWidget(Image1);
  ScrollBox1->viewport()->installEventFilter(this);
  layout->addWidget(ScrollBox1, 1);

  // Progress bar and caption float over the top-left of the visible area.
  ProgressBar1 = new QProgressBar(ScrollBox1->viewport());
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setFixedSize(150, 10);
  ProgressBar1->setStyleSheet("QProgressBar { background: black; border: 0; }"
                              " QProgressBar::chunk { background: #3a7bd5; }");
  ProgressBar1->hide();
  Label2 = new QLabel("Filtername", ScrollBox1->viewport());
  Label2->setStyleSheet("color: teal; background: transparent;");
  Label2->hide();

  StatusBar1 = new QStatusBar;
  StatusBar1->setSizeGripEnabled(false);
  QFont font("Arial");
  font.setPixelSize(12);
  StatusBar1->setFont(font);
  ZoomPanel = new QLabel("Zoom: 100%");
  ZoomPanel->setAlignment(Qt::AlignCenter);
  ZoomPanel->setFixedWidth(ZoomPanelWidth);
  ZoomPanel->setToolTip(QString::fromStdString(LangTextOr(LangKey(10, 3), "Rechtsklick für Auswahl")));
  ZoomPanel->installEventFilter(this);
  SizePanel = new QLabel(" Größe: 0 x 0");
  SizePanel->setMinimumWidth(50);
  StatusBar1->addWidget(ZoomPanel);
  StatusBar1->addWidget(SizePanel, 1);
  layout->addWidget(StatusBar1);
  setWidget(client);
}

TMDIChild::~TMDIChild() {
  // A window that goes without its close handler (main window shutting down)
  // must not stay registered with the store.
  if (ValidSlot(Tag) && Store.Window[size_t(Tag)] == this) {
    Store.Window[size_t(Tag)] = nullptr;
    Store.HasWindow[size_t(Tag)] = 0;
  }
}

int TMDIChild::Zoom() const { return ValidSlot(Tag) ? Store.Display[size_t(Tag)].ZoomPercent : 100; }

QPoint TMDIChild::PictureOrigin() const { return Image1->pos(); }

// ---- link to the store ----

int TMDIChild::MarkCount() const { return Overlay().MarkCount(); }

static TRectI ControlRect(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

bool TMDIChild::MarkImageRect(int k, TRectI& r) const {
  if (k < 0 || k >= MarkCount()) return false;
  r = ScreenToImageRect(Zoom(), {0, 0}, ControlRect(Overlay().MarkShapes[size_t(k)]));
  return true;
}

bool TMDIChild::MarkerVisible(int n) const { return n == 1 ? Overlay().Image2.Visible : Overlay().Image3.Visible; }

TPointI TMDIChild::MarkerImagePoint(int n) const {
  const QRect& b = n == 1 ? Overlay().Image2.Bounds : Overlay().Image3.Bounds;
  return ScreenToImagePoint(Zoom(), {0, 0}, {b.left() + MarkerSize / 2, b.top() + MarkerSize / 2});
}

bool TMDIChild::SelectionVisible(int n) const { return n == 1 ? Overlay().Shape1.Visible : Overlay().Shape2.Visible; }

TRectI TMDIChild::SelectionImageRect(int n) const {
  const QRect& b = n == 1 ? Overlay().Shape1.Bounds : Overlay().Shape2.Bounds;
  return ScreenToImageRect(Zoom(), {0, 0}, ControlRect(b));
}

void TMDIChild::SetBorderIconsLocked(bool locked) {
  iconsLocked_ = locked;
  const bool shown = isVisible();
  setWindowFlags(locked ? LockedFlags : NormalFlags);
  if (shown && !isVisible()) show();
}

void TMDIChild::SetOperationIcons(bool running) { SetBorderIconsLocked(running); }

void TMDIChild::ShowProgressBar(int percent, const std::string& caption) {
  const int left = std::max(0, -x());
  ProgressBar1->move(left, 0);
  ProgressBar1->setValue(std::clamp(percent, 0, 100));
  Label2->setText(QString::fromStdString(caption));
  Label2->adjustSize();
  Label2->move(left, 10);
  ProgressBar1->show();
  ProgressBar1->raise();
  Label2->show();
  Label2->raise();
}

void TMDIChild::HideProgressBar() {
  ProgressBar1->hide();
  Label2->hide();
}

bool TMDIChild::IsActiveWindow() const {
  const QMdiArea* area = mdiArea();
  return area && area->currentSubWindow() == this;
}

// ---- handlers of the window ----

void TMDIChild::FormActivate() {
  CurrentWindowSlot = Tag;
  if (Tag >= 1) SyncSelectionsFromShapes();
}

void TMDIChild::closeEvent(QCloseEvent* e) {
  if (Tag == 0) {
    e->accept();
    return;
  }
  if (!ValidSlot(Tag)) {
    e->ignore();
    return;
  }
  // A batch step working on the slot takes the close when it returns.
  if (SlotCloseDeferred(Tag)) {
    RequestSlotClose(Tag);
    e->ignore();
    return;
  }
  // A running interactive operation keeps its source and destination, and
  // running workers keep the slots they hold: closing one of them only asks
  // the operation to stop.
  if (SlotBusy(Tag)) {
    AbortRequested = 1;
    e->ignore();
    return;
  }
  const int slot = Tag;
  TImageSlot& im = Store.Image[size_t(slot)];
  Store.InUse[size_t(slot)] = 0;
  for (int p = 3; p >= 1; --p) TPlane().swap(im.Planes[size_t(p)]);
  Overlay().Clear();
  if (ReleaseWindowUndoHook) ReleaseWindowUndoHook(slot);
  Store.HasWindow[size_t(slot)] = 0;
  if (Store.Window[size_t(slot)] == this) Store.Window[size_t(slot)] = nullptr;
  if (CurrentWindowSlot == slot) CurrentWindowSlot = 0;
  if (WindowClosedHook) WindowClosedHook(slot);
  Image1->ClearPicture();
  ReleaseWindowBitmap(slot);
  e->accept();
}

void TMDIChild::resizeEvent(QResizeEvent* e) {
  QMdiSubWindow::resizeEvent(e);
  if (Tag >= 1) SetWindowCaption(Tag);
}

void TMDIChild::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    AbortRequested = 1;
    FilterAbortRequested = 1;
  }
  if (KeyCommandHook) KeyCommandHook(TKeyStroke(e->key(), e->text()));
  QMdiSubWindow::keyPressEvent(e);
}

bool TMDIChild::eventFilter(QObject* watched, QEvent* e) {
  if (ScrollBox1 && watched == ScrollBox1->viewport() && e->type() == QEvent::Wheel) {
    auto* w = static_cast<QWheelEvent*>(e);
    const int dy = w->angleDelta().y();
    if (dy != 0 && Tag >= 1) {
      CurrentWindowSlot = Tag;
      ZoomAtPoint(Tag, w->globalPosition().toPoint(), dy > 0);
    }
    return true;  // the wheel zooms; it never scrolls
  }
  if (ZoomPanel && watched == ZoomPanel && e->type() == QEvent::MouseButtonPress) {
    auto* m = static_cast<QMouseEvent*>(e);
    if (m->button() == Qt::RightButton && Tag >= 1) {
      CurrentWindowSlot = Tag;
      ShowZoomMenu(Tag, m->globalPosition().toPoint());
      return true;
    }
  }
  return QMdiSubWindow::eventFilter(watched, e);
}

}  // namespace astrelon
