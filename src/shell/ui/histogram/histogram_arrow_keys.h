#pragma once
// The arrow keys as a fine pointer: while the setting "Pfeiltasten" is on and
// the pointer lies over an image or a shape, each 100 ms tick moves it one pixel
// per arrow key: a key pressed anew at once, a key held again once it has been
// seen on 7 further ticks and then on every tick. Where the window system does
// not let a program move the pointer, the program's own hover position moves
// (the widget under it gets the mouse moves).
#include <QObject>
#include <QPoint>
#include <array>
#include <functional>

namespace astrelon {

class THistogramArrowKeys : public QObject {
  Q_OBJECT
public:
  explicit THistogramArrowKeys(QObject* parent);
  ~THistogramArrowKeys() override;

  // One tick; `overTarget` tells whether the pointer at a screen position lies
  // over an image or a shape.
  void Tick(const std::function<bool(QPoint)>& overTarget);
  // The pointer as the program sees it (the screen pointer plus the moves the
  // window system refused).
  QPoint Pointer();

protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void MovePointer(QPoint step);

  struct TKeyState {
    bool Down = false;
    bool Fresh = false;  // pressed since the last tick
    int Ticks = 0;       // ticks seen held after the first move
  };
  std::array<TKeyState, 4> keys_;  // left, right, up, down
  QPoint offset_;                  // moves the window system refused
  QPoint lastScreen_;
};

}  // namespace astrelon
