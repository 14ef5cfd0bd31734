#include "frequency/ui/filter_graph.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>

namespace astrelon {

namespace {

const QColor GridColour(0, 100, 0);
const QColor LabelColour(0, 160, 0);

// The curve as a path through its bins; heights kept a little beyond the picture.
QPainterPath CurvePath(const std::vector<double>& v, const TGraphScale& g, double q) {
  QPainterPath path;
  for (size_t b = 0; b < v.size(); ++b) {
    const QPointF at(double(b) / q, std::clamp(g.PlotY(v[b]), -10, g.Height + 10));
    if (b == 0)
      path.moveTo(at);
    else
      path.lineTo(at);
  }
  return path;
}

}  // namespace

QImage DrawFilterGraph(const TFilterCurves& curves, const TGraphScale& g, int width, double q) {
  QImage image(std::max(width, 1), std::max(g.Height, 1), QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter p(&image);
  QFont font = p.font();
  font.setPixelSize(10);
  p.setFont(font);
  const TGraphGrid grid = GraphGrid(g, width);
  p.setPen(QPen(GridColour, 1, Qt::DotLine));
  for (int32_t x : grid.X) p.drawLine(x, 0, x, g.Height - 1);
  for (int32_t y : grid.Y) p.drawLine(0, y, width - 1, y);
  p.setPen(LabelColour);
  for (size_t j = 0; j < grid.X.size(); ++j)
    p.drawText(grid.X[j] + 2, g.Height - 4, QString::fromStdString(grid.XLabel[j]));
  for (size_t j = 0; j < grid.Y.size(); ++j)
    p.drawText(2, grid.Y[j] + 11, QString::fromStdString(grid.YLabel[j]));
  p.setPen(Qt::green);
  p.drawText(2, g.Height - 4, "f->");
  if (q > 0 && !curves.S.empty()) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 1));
    p.drawPath(CurvePath(curves.S, g, q));
    p.setPen(QPen(Qt::red, 1));
    p.drawPath(CurvePath(curves.C, g, q));
  }
  return image;
}

TFilterGraph::TFilterGraph(QWidget* parent) : QWidget(parent) {
  setMouseTracking(false);
  setContextMenuPolicy(Qt::DefaultContextMenu);
}

void TFilterGraph::SetPicture(QImage picture) {
  picture_ = std::move(picture);
  setFixedSize(picture_.size());
  update();
}

void TFilterGraph::SetRubberLine(bool on, QPoint from, QPoint to) {
  rubber_ = on;
  from_ = from;
  to_ = to;
  update();
}

void TFilterGraph::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, picture_);
  if (rubber_) {
    p.setPen(QPen(Qt::red, 1));
    p.drawLine(from_, to_);
  }
}

void TFilterGraph::mousePressEvent(QMouseEvent* e) { emit MousePressed(e->position().toPoint(), e->button()); }

void TFilterGraph::mouseMoveEvent(QMouseEvent* e) { emit MouseMoved(e->position().toPoint(), e->buttons()); }

void TFilterGraph::mouseReleaseEvent(QMouseEvent* e) { emit MouseReleased(e->position().toPoint(), e->button()); }

void TFilterGraph::wheelEvent(QWheelEvent* e) {
  wheelRest_ += e->angleDelta().y();
  const int steps = wheelRest_ / 120;
  wheelRest_ -= steps * 120;
  if (steps != 0) emit WheelTurned(steps);
  e->accept();
}

}  // namespace astrelon
