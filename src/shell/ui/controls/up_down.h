#pragma once
// A pair of arrow buttons with a position in a range and no text of its own
// (a label beside it shows what the position means). A click moves the
// position by one within the range and reports the direction.
#include <QWidget>

class QToolButton;

namespace astrelon {

// Lays out an up and a down arrow button, one above the other, filling host.
void MakeArrowPair(QWidget* host, int buttonWidth, QToolButton*& up, QToolButton*& down);

class TUpDown : public QWidget {
  Q_OBJECT
public:
  TUpDown(int min, int max, int position, QWidget* parent = nullptr);

  int Position() const { return position_; }
  // Sets the position (clamped into the range) without a signal.
  void SetPosition(int position);
  int Min() const { return min_; }
  int Max() const { return max_; }
  QToolButton* Up = nullptr;
  QToolButton* Down = nullptr;

signals:
  // After a click on a button; the position has moved unless it was at its bound.
  void Clicked(bool up);

private:
  void Step(bool up);
  int min_, max_, position_;
};

}  // namespace astrelon
