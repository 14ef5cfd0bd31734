#include "frequency/ui/filter_knob.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace astrelon {

namespace {

// The pointer turns from −135° (low) to +135° (high), 0° pointing up.
constexpr double SweepDegrees = 270.0;

}  // namespace

TFilterKnob::TFilterKnob(QWidget* parent) : QWidget(parent) {
  setFixedSize(24, 24);
  setCursor(Qt::SizeVerCursor);
}

void TFilterKnob::SetShown(double value, double low, double high) {
  value_ = value;
  low_ = low;
  high_ = high;
  update();
}

void TFilterKnob::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(64, 64, 64), 1));
  p.setBrush(QColor(200, 200, 200));
  p.drawEllipse(QRectF(1.5, 1.5, 21, 21));
  const double share = high_ > low_ ? std::clamp((value_ - low_) / (high_ - low_), 0.0, 1.0) : 0.0;
  const double angle = (share - 0.5) * SweepDegrees * std::numbers::pi / 180.0;
  const QPointF centre(12, 12);
  p.setPen(QPen(Qt::black, 2));
  p.drawLine(centre, centre + QPointF(9 * std::sin(angle), -9 * std::cos(angle)));
}

void TFilterKnob::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  dragging_ = true;
  anchor_ = e->globalPosition().toPoint();
  setCursor(Qt::BlankCursor);
}

void TFilterKnob::mouseMoveEvent(QMouseEvent* e) {
  if (!dragging_) return;
  const QPoint at = e->globalPosition().toPoint();
  const QPoint d = at - anchor_;
  const int pixels = std::abs(d.x()) >= std::abs(d.y()) ? d.x() : -d.y();
  if (pixels == 0) return;
  QCursor::setPos(anchor_);
  // Where the pointer stays where it is, the next move counts from here.
  if (QCursor::pos() != anchor_) anchor_ = at;
  emit Turned(pixels);
}

void TFilterKnob::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  setCursor(Qt::SizeVerCursor);
}

}  // namespace astrelon
