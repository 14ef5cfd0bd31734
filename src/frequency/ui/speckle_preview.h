#pragma once
// The speckle window's preview: a frame at full size on which a left-button
// drag draws the green region frame (Shape1). A region under 10 pixels in
// either direction is hidden, which means the whole frame.
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <functional>

class QFrame;

namespace astrelon {

// The rectangle a drag from a to b covers, both corners included.
QRect DragRectangle(QPoint a, QPoint b);

class TSpecklePreview : public QWidget {
public:
  explicit TSpecklePreview(QWidget* parent);

  // Shows the picture at full size (the widget takes its size).
  void SetPicture(const QImage& picture);
  const QImage& Picture() const { return picture_; }

  QFrame* Shape1;
  // Called when a drag ended (the region changed or was hidden).
  std::function<void()> RegionChanged;

  // The drag steps, also used by tests.
  void PressAt(QPoint p);
  void MoveTo(QPoint p);
  void ReleaseAt(QPoint p);

protected:
  void paintEvent(class QPaintEvent* e) override;
  void mousePressEvent(class QMouseEvent* e) override;
  void mouseMoveEvent(class QMouseEvent* e) override;
  void mouseReleaseEvent(class QMouseEvent* e) override;

private:
  QImage picture_;
  QPoint start_;
  bool dragging_ = false;
};

}  // namespace astrelon
