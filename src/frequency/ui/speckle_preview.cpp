#include "frequency/ui/speckle_preview.h"

#include <QFrame>
#include <QMouseEvent>
#include <QPainter>
#include <cstdlib>

namespace astrelon {

QRect DragRectangle(QPoint a, QPoint b) {
  return QRect(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::abs(b.x() - a.x()) + 1,
               std::abs(b.y() - a.y()) + 1);
}

TSpecklePreview::TSpecklePreview(QWidget* parent) : QWidget(parent) {
  setObjectName("Image1");
  Shape1 = new QFrame(this);
  Shape1->setObjectName("Shape1");
  Shape1->setStyleSheet("QFrame#Shape1 { border: 1px solid #00ff00; background: transparent; }");
  Shape1->setAttribute(Qt::WA_TransparentForMouseEvents);
  Shape1->hide();
  setCursor(Qt::CrossCursor);
}

void TSpecklePreview::SetPicture(const QImage& picture) {
  picture_ = picture;
  setFixedSize(picture_.isNull() ? QSize(0, 0) : picture_.size());
  update();
}

void TSpecklePreview::PressAt(QPoint p) {
  start_ = p;
  dragging_ = true;
  Shape1->hide();
}

void TSpecklePreview::MoveTo(QPoint p) {
  if (!dragging_) return;
  Shape1->setGeometry(DragRectangle(start_, p));
  Shape1->show();
}

void TSpecklePreview::ReleaseAt(QPoint p) {
  if (!dragging_) return;
  dragging_ = false;
  const QRect r = DragRectangle(start_, p);
  Shape1->setGeometry(r);
  Shape1->setVisible(r.width() >= 10 && r.height() >= 10);
  if (RegionChanged) RegionChanged();
}

void TSpecklePreview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!picture_.isNull()) painter.drawImage(0, 0, picture_);
}

void TSpecklePreview::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) PressAt(e->position().toPoint());
}

void TSpecklePreview::mouseMoveEvent(QMouseEvent* e) { MoveTo(e->position().toPoint()); }

void TSpecklePreview::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) ReleaseAt(e->position().toPoint());
}

}  // namespace astrelon
