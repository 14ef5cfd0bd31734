#include "shell/ui/histogram/histogram_area.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>

namespace astrelon {

THistogramArea::THistogramArea(THistogramAreaEvents* events, QWidget* parent) : QWidget(parent), events_(events) {
  setObjectName("PaintBox1");
  setMouseTracking(false);
}

void THistogramArea::paintEvent(QPaintEvent*) {
  QPainter p(this);
  events_->PaintArea(p);
}

void THistogramArea::mousePressEvent(QMouseEvent* e) { events_->AreaMousePress(e); }
void THistogramArea::mouseMoveEvent(QMouseEvent* e) { events_->AreaMouseMove(e); }
void THistogramArea::mouseReleaseEvent(QMouseEvent* e) { events_->AreaMouseRelease(e); }

void THistogramArea::contextMenuEvent(QContextMenuEvent* e) {
  // Passed on to the window, which opens its pop-up menu.
  if (events_->AreaWantsPopup(e->pos()))
    e->ignore();
  else
    e->accept();
}

}  // namespace astrelon
