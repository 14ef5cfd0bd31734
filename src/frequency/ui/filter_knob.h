#pragma once
// A round 24 × 24 knob whose pointer shows a value within its range. Dragging
// it with the left button hides the mouse pointer and holds it in place; the
// distance moved along the dominant axis (up or right positive) is reported.
// Where the pointer cannot be moved back (some window systems refuse), the
// moves are summed from the last position instead.
#include <QPoint>
#include <QWidget>

namespace astrelon {

class TFilterKnob : public QWidget {
  Q_OBJECT
public:
  explicit TFilterKnob(QWidget* parent = nullptr);

  // The value shown and its range.
  void SetShown(double value, double low, double high);
  double Shown() const { return value_; }

signals:
  // The pointer moved `pixels` along the dominant axis while the button was held.
  void Turned(int pixels);

protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

private:
  double value_ = 0, low_ = 0, high_ = 1;
  bool dragging_ = false;
  QPoint anchor_;  // global position the pointer is held at
};

}  // namespace astrelon
