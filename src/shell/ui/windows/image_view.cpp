#include "shell/ui/windows/image_view.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <cmath>

namespace astrelon {

namespace {

bool Hits(const TOverlayItem& item, QPoint p) {
  return item.Visible && item.Bounds.width() > 0 && item.Bounds.height() > 0 && item.Bounds.contains(p);
}

void DrawFrame(QPainter& p, const QRect& r, const QColor& colour) {
  if (r.width() <= 0 || r.height() <= 0) return;
  p.setPen(QPen(colour, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(r.adjusted(0, 0, -1, -1));
}

// A ring with a cross, centred in the 21 x 21 box.
void DrawMarker(QPainter& p, const QRect& r, const QColor& colour) {
  const QPointF c = QRectF(r).center();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setBrush(Qt::NoBrush);
  for (const auto& [pen, width] : {std::pair{QColor(Qt::black), 3.0}, std::pair{colour, 1.0}}) {
    p.setPen(QPen(pen, width));
    p.drawEllipse(c, 6.0, 6.0);
    p.drawLine(QPointF(c.x() - 10, c.y()), QPointF(c.x() - 3, c.y()));
    p.drawLine(QPointF(c.x() + 3, c.y()), QPointF(c.x() + 10, c.y()));
    p.drawLine(QPointF(c.x(), c.y() - 10), QPointF(c.x(), c.y() - 3));
    p.drawLine(QPointF(c.x(), c.y() + 3), QPointF(c.x(), c.y() + 10));
  }
  p.setRenderHint(QPainter::Antialiasing, false);
}

}  // namespace

TOverlayHit TWindowOverlay::HitTest(QPoint p, int& markIndex) const {
  markIndex = -1;
  // Marks lie in front, the newest first.
  for (int k = MarkCount() - 1; k >= 0; --k)
    if (MarkShapes[size_t(k)].contains(p)) {
      markIndex = k;
      return TOverlayHit::Mark;
    }
  if (Hits(Image3, p)) return TOverlayHit::Image3;
  if (Hits(Image2, p)) return TOverlayHit::Image2;
  if (Hits(Shape2, p)) return TOverlayHit::Shape2;
  if (Hits(Shape1, p)) return TOverlayHit::Shape1;
  return TOverlayHit::None;
}

void TWindowOverlay::Clear() {
  MarkShapes.clear();
  MarkOrigins.clear();
  MarkRects.clear();
  MarkFlags.clear();
}

TImageView::TImageView(TImageViewEvents* events, QWidget* parent) : QWidget(parent), events_(events) {
  setCursor(Qt::CrossCursor);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
}

QColor TImageView::MarkPenColour() { return QColor(166, 203, 240); }

void TImageView::SetPicture(const TDisplayBitmap& bitmap) {
  if (bitmap.Empty()) {
    ClearPicture();
    return;
  }
  // The QImage refers to the bitmap's pixels; it is re-made whenever the renderer rebuilds.
  const auto* data = bitmap.Pixels.data();
  if (bitmap.Format == TBitmapFormat::Indexed8) {
    picture_ = QImage(data, bitmap.Width, bitmap.Height, qsizetype(bitmap.Stride), QImage::Format_Indexed8);
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i) table[i] = 0xFF000000u | bitmap.ColourTable[size_t(i)];
    picture_.setColorTable(table);
  } else {
    picture_ = QImage(data, bitmap.Width, bitmap.Height, qsizetype(bitmap.Stride), QImage::Format_BGR888);
  }
  update();
}

void TImageView::ClearPicture() {
  picture_ = QImage();
  update();
}

void TImageView::paintEvent(QPaintEvent* e) {
  QPainter p(this);
  const QRect exposed = e->rect();
  if (picture_.isNull() || width() <= 0 || height() <= 0) {
    p.fillRect(exposed, Qt::black);
  } else {
    // Source pixels covering the exposed part, drawn onto their exact place, so
    // that a large image at a high zoom never becomes one huge pixmap.
    const double sx = double(picture_.width()) / width();
    const double sy = double(picture_.height()) / height();
    const int x0 = std::max(0, int(std::floor(exposed.left() * sx)));
    const int y0 = std::max(0, int(std::floor(exposed.top() * sy)));
    const int x1 = std::min(picture_.width(), int(std::ceil((exposed.right() + 1) * sx)));
    const int y1 = std::min(picture_.height(), int(std::ceil((exposed.bottom() + 1) * sy)));
    if (x1 > x0 && y1 > y0) {
      const QRectF source(x0, y0, x1 - x0, y1 - y0);
      const QRectF target(x0 / sx, y0 / sy, (x1 - x0) / sx, (y1 - y0) / sy);
      p.setRenderHint(QPainter::SmoothPixmapTransform, sx > 1.0 || sy > 1.0);
      p.drawImage(target, picture_, source);
    }
  }
  PaintToolLayer(p);
  PaintOverlay(p, exposed);
}

void TImageView::PaintToolLayer(QPainter& p) const {
  const TToolLayer& t = ToolLayer;
  if (t.Empty() || t.ImageWidth < 1) return;
  const double scale = double(width()) / t.ImageWidth;
  auto at = [scale](QPointF q) { return QPointF(q.x() * scale, q.y() * scale); };
  p.save();
  if (!t.Trail.empty()) {
    QPen pen(QColor(128, 128, 128), std::max(1.0, t.TrailWidth * scale - 1), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    if (t.Trail.size() == 1) {
      p.drawPoint(at(t.Trail[0]));
    } else {
      QPolygonF line;
      for (const QPointF& q : t.Trail) line << at(q);
      p.drawPolyline(line);
    }
  }
  p.setRenderHint(QPainter::Antialiasing, true);
  for (const TToolLine& l : t.Lines) {
    p.setPen(QPen(l.Colour, 1));
    const QPointF a = at(l.From), b = at(l.To);
    p.drawLine(a, b);
    if (l.ArrowHead && a != b) {
      // Two strokes of 10 pixels at +-25 degrees back from the head.
      const double angle = std::atan2(a.y() - b.y(), a.x() - b.x());
      for (double side : {-0.436, 0.436})
        p.drawLine(b, b + QPointF(10 * std::cos(angle + side), 10 * std::sin(angle + side)));
    }
  }
  if (t.Painter) t.Painter(p, scale);
  p.restore();
}

void TImageView::PaintOverlay(QPainter& p, const QRect& exposed) const {
  const TWindowOverlay& o = Overlay;
  if (o.Shape1.Visible) DrawFrame(p, o.Shape1.Bounds, Qt::yellow);
  if (o.Shape2.Visible) DrawFrame(p, o.Shape2.Bounds, Qt::cyan);
  if (o.Image2.Visible && o.Image2.Bounds.intersects(exposed)) DrawMarker(p, o.Image2.Bounds, Qt::yellow);
  if (o.Image3.Visible && o.Image3.Bounds.intersects(exposed)) DrawMarker(p, o.Image3.Bounds, Qt::cyan);
  const QColor markPen = MarkPenColour();
  for (const QRect& r : o.MarkShapes)
    if (r.intersects(exposed)) DrawFrame(p, r, markPen);
}

void TImageView::mousePressEvent(QMouseEvent* e) {
  if (events_) events_->ViewMousePress(e);
}
void TImageView::mouseMoveEvent(QMouseEvent* e) {
  if (events_) events_->ViewMouseMove(e);
}
void TImageView::mouseReleaseEvent(QMouseEvent* e) {
  if (events_) events_->ViewMouseRelease(e);
}

}  // namespace astrelon
