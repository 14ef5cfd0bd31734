#pragma once
// The frequency filter's graph: the spectrum S (white) and the response C
// (red) in dB over the bins on a black ground with a dotted dark-green grid,
// shown in a widget that reports the mouse in graph pixels and draws the
// rubber line of a line being dragged.
#include <QImage>
#include <QPoint>
#include <QWidget>

#include "frequency/filter/filter_curves.h"
#include "frequency/filter/filter_drawing.h"

namespace astrelon {

// The graph picture, `width` × g.Height pixels, q bins per pixel.
QImage DrawFilterGraph(const TFilterCurves& curves, const TGraphScale& g, int width, double q);

class TFilterGraph : public QWidget {
  Q_OBJECT
public:
  explicit TFilterGraph(QWidget* parent = nullptr);

  // Shows the picture; the widget takes its size.
  void SetPicture(QImage picture);
  const QImage& Picture() const { return picture_; }
  // The red rubber line of a line being dragged (none when `on` is false).
  void SetRubberLine(bool on, QPoint from = {}, QPoint to = {});

signals:
  void MousePressed(QPoint at, Qt::MouseButton button);
  void MouseMoved(QPoint at, Qt::MouseButtons buttons);
  void MouseReleased(QPoint at, Qt::MouseButton button);
  // Wheel steps: positive away from the user.
  void WheelTurned(int steps);

protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

private:
  QImage picture_;
  bool rubber_ = false;
  QPoint from_, to_;
  int wheelRest_ = 0;
};

}  // namespace astrelon
