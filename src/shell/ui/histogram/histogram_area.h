#pragma once
// The drawing surface of the histogram window: it covers the window left of the
// button column and hands painting and mouse input to its owner, which draws the
// histogram picture, the transfer curve, the black and white markers, the
// slider and the curve grips and hit-tests them.
#include <QWidget>

class QContextMenuEvent;
class QMouseEvent;
class QPainter;

namespace astrelon {

class THistogramAreaEvents {
public:
  virtual ~THistogramAreaEvents() = default;
  virtual void PaintArea(QPainter& p) = 0;
  virtual void AreaMousePress(QMouseEvent* e) = 0;
  virtual void AreaMouseMove(QMouseEvent* e) = 0;
  virtual void AreaMouseRelease(QMouseEvent* e) = 0;
  // False when the press under the pointer takes the right button itself.
  virtual bool AreaWantsPopup(QPoint pos) = 0;
};

class THistogramArea : public QWidget {
  Q_OBJECT
public:
  THistogramArea(THistogramAreaEvents* events, QWidget* parent);

protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

private:
  THistogramAreaEvents* events_;
};

}  // namespace astrelon
