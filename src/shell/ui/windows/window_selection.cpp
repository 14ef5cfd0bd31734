// Selections, point markers and marks of an image window: drawing them with the
// mouse, moving them, hiding them, and what the rest of the program reads of them.
#include <QCursor>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>

#include "common/clamp_round.h"
#include "common/pascal_format.h"
#include "core/batch_state.h"
#include "shell/main/main_services.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"
#include "shell/windows/image_window_state.h"
#include "shell/windows/window_coordinates.h"

namespace astrelon {

namespace {

TRectI OnePoint(QPoint p) { return {p.x(), p.y(), p.x(), p.y()}; }

QRect MarkerBounds(QPoint centre) {
  return {centre.x() - MarkerSize / 2, centre.y() - MarkerSize / 2, MarkerSize, MarkerSize};
}

TRectI CurrentWorkRect() { return {WorkRect.x1, WorkRect.y1, WorkRect.x2, WorkRect.y2}; }

void RememberSelection(int slot, int index, const TRectI& r) {
  SelectionRects[size_t(index)] = r;
  if (ValidSlot(slot)) WindowSelectionRects[size_t(slot)][size_t(index)] = r;
}

}  // namespace

// ---- marks ----

bool TMDIChild::AddMark(int left, int top, int width, int height) {
  if (Tag < 1 || MarkCount() >= MaxMarks) return false;
  TWindowOverlay& o = Overlay();
  o.MarkShapes.push_back(QRect(left, top, width, height));
  o.MarkOrigins.push_back({});
  o.MarkRects.push_back({});
  o.MarkFlags.push_back(1);
  MarksChanged = 1;
  Image1->update();
  return true;
}

void TMDIChild::DeleteMark(int n) {
  if (n < 0) n = -1 - n;
  TWindowOverlay& o = Overlay();
  const int last = o.MarkCount() - 1;
  if (n > last) return;
  // The last mark moves into entry n; marks are unordered.
  o.MarkShapes[size_t(n)] = o.MarkShapes[size_t(last)];
  o.MarkRects[size_t(n)] = o.MarkRects[size_t(last)];
  o.MarkOrigins[size_t(n)] = o.MarkOrigins[size_t(last)];
  o.MarkFlags[size_t(n)] = o.MarkFlags[size_t(last)];
  o.MarkShapes.pop_back();
  o.MarkRects.pop_back();
  o.MarkOrigins.pop_back();
  o.MarkFlags.pop_back();
  if (PressedMark == last) PressedMark = n;
  if (DragKind == -1 - last) DragKind = -1 - n;
  Image1->update();
}

void TMDIChild::MoveMark(int k, const TRectI& r) {
  if (k < 0 || k >= MarkCount()) return;
  TWindowOverlay& o = Overlay();
  o.MarkRects[size_t(k)] = r;
  const TRectI s = ImageToScreenRect(Zoom(), {0, 0}, r);
  o.MarkShapes[size_t(k)] = QRect(s.Left, s.Top, std::max(1, s.Right - s.Left), std::max(1, s.Bottom - s.Top));
  Image1->update();
}

void TMDIChild::CentreSelection(int n, double x, double y) {
  if (!ValidSlot(Tag)) return;
  const int index = n == 1 ? 1 : 2;
  const TRectI now = SelectionImageRect(index);
  const int32_t w = now.Right - now.Left, h = now.Bottom - now.Top;
  const int32_t left = ClampRoundToInt(x) - w / 2, top = ClampRoundToInt(y) - h / 2;
  const TRectI r{left, top, left + w, top + h};
  WindowSelectionRects[size_t(Tag)][size_t(index)] = r;
  if (CurrentWindowSlot == Tag) SelectionRects[size_t(index)] = r;
  const TRectI s = ImageToScreenRect(Zoom(), {0, 0}, r);
  TOverlayItem& shape = index == 1 ? Overlay().Shape1 : Overlay().Shape2;
  shape.Bounds = QRect(s.Left, s.Top, std::max(1, s.Right - s.Left), std::max(1, s.Bottom - s.Top));
  Image1->update();
}

void TMDIChild::DeleteAllMarks() {
  for (int k = MarkCount() - 1; k >= 0; --k) DeleteMark(k);
}

// ---- status ----

void TMDIChild::UpdateSelectionStatus() {
  const TWindowOverlay& o = Overlay();
  QString text;
  auto size = [](const TRectI& r) {
    return QString::fromStdString(IntToStr(int64_t(r.Right) - r.Left + 1) + " x " + IntToStr(int64_t(r.Bottom) - r.Top + 1));
  };
  if (o.Shape1.Visible) text = size(SelectionRects[1]);
  if (o.Shape2.Visible) text += "   " + size(SelectionRects[2]);
  SetMainStatusText(1, text);
  const bool single = (o.Shape1.Visible || o.Image2.Visible) && !o.Shape2.Visible && !o.Image3.Visible;
  if (MainLink().SetCropButtonEnabled) MainLink().SetCropButtonEnabled(single);
}

void TMDIChild::SyncSelectionsFromShapes() {
  if (Tag < 1) return;
  if (MainLink().ColourSpaceButtonEnabled && MainLink().ColourSpaceButtonEnabled()) UpdateInfoPanel(Tag, 0);
  const TWindowOverlay& o = Overlay();
  const bool visible[5] = {false, o.Shape1.Visible, o.Shape2.Visible, o.Image2.Visible, o.Image3.Visible};
  for (int i = 1; i <= 4; ++i) {
    if (!visible[i]) continue;
    SetWorkRectFromWindow(Tag, i == 1 || i == 3 ? 1 : 2, true);
    RememberSelection(Tag, i, CurrentWorkRect());
  }
  UpdateSelectionStatus();
}

void TMDIChild::PlaceOverlayAtZoom() {
  if (!ValidSlot(Tag)) return;
  const int zoom = Zoom();
  TWindowOverlay& o = Overlay();
  const auto& rects = WindowSelectionRects[size_t(Tag)];
  auto place = [&](TOverlayItem& item, const TRectI& r) {
    const TRectI s = ImageToScreenRect(zoom, {0, 0}, r);
    item.Bounds = QRect(s.Left, s.Top, std::max(1, s.Right - s.Left), std::max(1, s.Bottom - s.Top));
  };
  auto placeMarker = [&](TOverlayItem& item, const TRectI& r) {
    // The marker's centre lies on the middle of its image pixel.
    const TPointI a = ImageToScreenPoint(zoom, {0, 0}, {r.Left, r.Top});
    const TPointI b = ImageToScreenPoint(zoom, {0, 0}, {r.Left + 1, r.Top + 1});
    item.Bounds = MarkerBounds(QPoint((a.X + b.X) / 2, (a.Y + b.Y) / 2));
  };
  if (o.Shape1.Visible) place(o.Shape1, rects[1]);
  if (o.Shape2.Visible) place(o.Shape2, rects[2]);
  if (o.Image2.Visible) placeMarker(o.Image2, rects[3]);
  if (o.Image3.Visible) placeMarker(o.Image3, rects[4]);
  for (int k = 0; k < o.MarkCount(); ++k) {
    const TRectI s = ImageToScreenRect(zoom, {0, 0}, o.MarkRects[size_t(k)]);
    o.MarkShapes[size_t(k)] = QRect(s.Left, s.Top, std::max(1, s.Right - s.Left), std::max(1, s.Bottom - s.Top));
  }
  Image1->update();
}

// ---- the picture's mouse handlers ----

void TMDIChild::ViewMousePress(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  int mark = -1;
  const TOverlayHit hit = Overlay().HitTest(pos, mark);
  if (hit == TOverlayHit::Image2 || hit == TOverlayHit::Image3) {
    // Markers answer the right button only.
    if (e->button() == Qt::RightButton) {
      PopupPoint = e->globalPosition().toPoint();
      MenuTarget = hit == TOverlayHit::Image2 ? 3 : 4;
      if (RegionMenuHook) RegionMenuHook(*this, PopupPoint, true);
    }
    return;
  }
  if (hit != TOverlayHit::None) {
    ShapeMouseDown(e, hit, mark);
    return;
  }
  // A press on the picture.
  pressOnPicture_ = false;
  if (!ComputationDone || Tag < 1) return;
  const int zoom = Zoom();
  LastClickPixel = {MouseToImageCoord(std::max(zoom, 10), pos.x()), MouseToImageCoord(std::max(zoom, 10), pos.y())};
  if (ToolPressHook && ToolPressHook(*this, e)) return;
  if (ToolMode != 1 && ToolMode != 2) return;
  if (e->button() == Qt::RightButton) {
    PopupPoint = e->globalPosition().toPoint();
    if (PixelMenuHook) PixelMenuHook(*this, PopupPoint);
    UpdateSelectionStatus();
    return;
  }
  if (e->button() != Qt::LeftButton) return;
  pressOnPicture_ = true;
  dragMoved_ = false;
  TWindowOverlay& o = Overlay();
  DragKind = 0;
  DragAnchor = pos;
  if (MultiMarkMode) {
    const int index = MarkCount();
    if (AddMark(pos.x(), pos.y(), 0, 0)) {
      DragKind = -1 - index;
      o.MarkRects[size_t(index)] = OnePoint(pos);
    }
    return;
  }
  if (!o.Shape1.Visible && !o.Image2.Visible)
    DragKind = 1;
  else if (!o.Shape2.Visible && !o.Image3.Visible)
    DragKind = 2;
  if (DragKind == 0) return;  // both selections in use
  TOverlayItem& shape = DragKind == 1 ? o.Shape1 : o.Shape2;
  TOverlayItem& marker = DragKind == 1 ? o.Image2 : o.Image3;
  SelectionRects[size_t(DragKind)] = OnePoint(pos);
  shape.Bounds = QRect(pos, QSize(0, 0));
  marker.Bounds = MarkerBounds(pos);
  if (SelectionChangedHook) SelectionChangedHook(*this, DragKind);
}

void TMDIChild::ViewMouseMove(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  if (ShapePress > 0) {
    ShapeMouseMove(e);
    return;
  }
  if (!ComputationDone || Tag < 1) return;
  if (ToolMoveHook && ToolMoveHook(*this, e)) return;
  if (pressOnPicture_ && DragKind != 0 && (e->buttons() & Qt::LeftButton)) {
    // A move report without movement keeps a click a click (a point marker).
    if (pos != DragAnchor || dragMoved_) {
      dragMoved_ = true;
      SelectionMouseMove(pos);
    }
    return;
  }
  ShowPixelText(pos);
}

void TMDIChild::ViewMouseRelease(QMouseEvent* e) {
  if (ShapePress > 0 || PressedMark >= 0) {
    ShapePress = 0;
    PressedMark = -1;
    return;
  }
  if (!ComputationDone || Tag < 1) return;
  if (ToolReleaseHook && ToolReleaseHook(*this, e)) return;
  if (e->button() != Qt::LeftButton || !pressOnPicture_) return;
  pressOnPicture_ = false;
  SelectionMouseUp();
}

QRect& TMDIChild::DraggedShape() {
  TWindowOverlay& o = Overlay();
  if (DragKind == 1) return o.Shape1.Bounds;
  if (DragKind == 2) return o.Shape2.Bounds;
  return o.MarkShapes[size_t(-1 - DragKind)];
}

void TMDIChild::SelectionMouseMove(QPoint pos) {
  if (DragKind < 0 && -1 - DragKind >= MarkCount()) return;
  const int maxX = Image1->width(), maxY = Image1->height();
  const QPoint p(std::clamp(pos.x(), 0, maxX), std::clamp(pos.y(), 0, maxY));
  // The shape ends at the right (bottom) edge of the visible area.
  const QPoint origin = PictureOrigin();
  const int visibleRight = ScrollBox1->viewport()->width() - origin.x();
  const int visibleBottom = ScrollBox1->viewport()->height() - origin.y();
  QRect r(std::min(DragAnchor.x(), p.x()), std::min(DragAnchor.y(), p.y()), std::abs(p.x() - DragAnchor.x()) + 1,
          std::abs(p.y() - DragAnchor.y()) + 1);
  if (p.x() > DragAnchor.x() && r.left() + r.width() > visibleRight) r.setWidth(std::max(1, visibleRight - r.left()));
  if (p.y() > DragAnchor.y() && r.top() + r.height() > visibleBottom)
    r.setHeight(std::max(1, visibleBottom - r.top()));
  DraggedShape() = r;
  if (DragKind == 1) Overlay().Shape1.Visible = true;
  if (DragKind == 2) Overlay().Shape2.Visible = true;
  if (SelectionChangedHook) SelectionChangedHook(*this, DragKind);
  ShapeFollows(DragKind);
  Image1->update();
  AutoScroll(pos);
  UpdateSelectionStatus();
}

// The working rectangle and the remembered rectangles follow a drawn or moved shape.
void TMDIChild::ShapeFollows(int kind) {
  SetWorkRectFromWindow(Tag, kind, false);
  const TRectI r = CurrentWorkRect();
  if (kind > 0)
    RememberSelection(Tag, kind, r);
  else if (-1 - kind < MarkCount())
    Overlay().MarkRects[size_t(-1 - kind)] = r;
}

void TMDIChild::AutoScroll(QPoint pos) {
  QScrollBar* h = ScrollBox1->horizontalScrollBar();
  QScrollBar* v = ScrollBox1->verticalScrollBar();
  auto scroll = [](QScrollBar* bar, int x, int visible) {
    if (bar->maximum() <= 0) return;
    const int scrollPos = bar->value();
    if (x <= scrollPos && scrollPos >= 1)
      bar->setValue(scrollPos - std::min(scrollPos, 8));
    else if (x >= visible + scrollPos - 1 && scrollPos < bar->maximum())
      bar->setValue(scrollPos + std::min(bar->maximum() - scrollPos, 8));
  };
  scroll(h, pos.x(), ScrollBox1->viewport()->width());
  scroll(v, pos.y(), ScrollBox1->viewport()->height());
}

void TMDIChild::SelectionMouseUp() {
  const int slot = Tag;
  if (DragKind < 0) {
    const int index = -1 - DragKind;
    if (index < MarkCount()) {
      SetWorkRectFromWindow(slot, DragKind, false);
      if (WorkRect.x2 - WorkRect.x1 < 3 && WorkRect.y2 - WorkRect.y1 < 3)
        DeleteMark(index);
      else
        Overlay().MarkRects[size_t(index)] = CurrentWorkRect();
    }
  } else if (DragKind > 0) {
    const TRectI& s = SelectionRects[size_t(DragKind)];
    if (s.Right - s.Left < 1 && s.Bottom - s.Top < 1) {
      // A click without movement leaves a point marker.
      TWindowOverlay& o = Overlay();
      TOverlayItem& marker = DragKind == 1 ? o.Image2 : o.Image3;
      TOverlayItem& shape = DragKind == 1 ? o.Shape1 : o.Shape2;
      marker.Visible = true;
      shape.Visible = false;
      SetWorkRectFromWindow(slot, DragKind, true);
      const TRectI point{WorkRect.x1, WorkRect.y1, WorkRect.x1, WorkRect.y1};
      RememberSelection(slot, DragKind + 2, point);
      RememberSelection(slot, DragKind, point);
      Image1->update();
    }
  }
  DragKind = 0;
  UpdateSelectionStatus();
}

void TMDIChild::ShowPixelText(QPoint pos) {
  CurrentWindowSlot = Tag;
  const int zoom = Zoom();
  const std::string text = PixelValueText(Tag, MouseToImageCoord(zoom, pos.x()), MouseToImageCoord(zoom, pos.y()));
  SetMainStatusText(0, QString::fromStdString(text));
  if (!text.empty() && MainLink().ShowPixelText)
    MainLink().ShowPixelText(QString::fromStdString(text), !PixelTextInNormalColour(zoom));
}

// ---- moving a shape ----

void TMDIChild::ShapeMouseDown(QMouseEvent* e, TOverlayHit hit, int mark) {
  PopupPoint = e->globalPosition().toPoint();
  ShapePress = hit == TOverlayHit::Shape1 ? 1 : (hit == TOverlayHit::Shape2 ? 2 : 3);
  PressedMark = hit == TOverlayHit::Mark ? mark : -1;
  if (e->button() == Qt::LeftButton) {
    PressCursor = e->globalPosition().toPoint();
    const TWindowOverlay& o = Overlay();
    DragAnchor = ShapePress == 1   ? o.Shape1.Bounds.topLeft()
                 : ShapePress == 2 ? o.Shape2.Bounds.topLeft()
                                   : o.MarkShapes[size_t(mark)].topLeft();
    return;
  }
  if (e->button() == Qt::RightButton) {
    const bool forMark = ShapePress == 3;
    MenuTarget = forMark ? -(mark + 1) : ShapePress;
    if (RegionMenuHook) RegionMenuHook(*this, PopupPoint, forMark);
  }
  ShapePress = 0;
  PressedMark = -1;
}

void TMDIChild::ShapeMouseMove(QMouseEvent* e) {
  CurrentWindowSlot = std::max(Tag, 0);
  const QPoint to = DragAnchor + (e->globalPosition().toPoint() - PressCursor);
  TWindowOverlay& o = Overlay();
  int kind;
  if (ShapePress == 1) {
    o.Shape1.Bounds.moveTopLeft(to);
    kind = 1;
  } else if (ShapePress == 2) {
    o.Shape2.Bounds.moveTopLeft(to);
    kind = 2;
  } else {
    if (PressedMark < 0 || PressedMark >= o.MarkCount()) return;
    o.MarkShapes[size_t(PressedMark)].moveTopLeft(to);
    kind = -1 - PressedMark;
  }
  MarksChanged = 1;
  if (SelectionChangedHook) SelectionChangedHook(*this, kind);
  if (Tag >= 1) ShapeFollows(kind);
  Image1->update();
}

// ---- hiding ----

void TMDIChild::HideMenuTarget() {
  if (Tag < 1) return;
  TWindowOverlay& o = Overlay();
  if (MenuTarget < 0) {
    DeleteMark(MenuTarget);
  } else if (MenuTarget == 1 || MenuTarget == 3) {
    auto& rects = WindowSelectionRects[size_t(Tag)];
    if (o.Image3.Visible) {
      // Marker 2 becomes marker 1.
      o.Image3.Visible = false;
      o.Image2.Bounds = o.Image3.Bounds;
      o.Image2.Visible = true;
      SelectionRects[3] = SelectionRects[4];
      rects[3] = rects[4];
      o.Shape1.Visible = o.Shape2.Visible = false;
    } else if (o.Shape2.Visible) {
      // Selection 2 becomes selection 1.
      o.Shape2.Visible = false;
      o.Image2.Visible = false;
      o.Shape1.Bounds = o.Shape2.Bounds;
      o.Shape1.Visible = true;
      SelectionRects[1] = SelectionRects[2];
      rects[1] = rects[2];
    } else {
      o.Shape1.Visible = false;
      o.Image2.Visible = false;
    }
  } else if (MenuTarget == 2 || MenuTarget == 4) {
    o.Image3.Visible = false;
    o.Shape2.Visible = false;
  }
  MarksChanged = 1;
  if (SelectionChangedHook) SelectionChangedHook(*this, 0);
  Image1->update();
  UpdateSelectionStatus();
}

void TMDIChild::HideAllSelections() {
  TWindowOverlay& o = Overlay();
  o.Shape1.Visible = o.Shape2.Visible = o.Image2.Visible = o.Image3.Visible = false;
  if (SelectionChangedHook) SelectionChangedHook(*this, 0);
  SetMainStatusText(1, {});
  Image1->update();
  UpdateSelectionStatus();
}

}  // namespace astrelon
