#pragma once
// One slider of the filter dialog: a panel with the caption, a track and its knob,
// the minimum, maximum and value texts. The knob is dragged with the mouse; a
// press on the track moves it one pixel towards the press. Every change stores
// the new position in the filter table at once.
#include <QFrame>
#include <QPoint>
#include <array>

class QLabel;

namespace astrelon {

class TFilterSlider : public QFrame {
  Q_OBJECT
public:
  // `index` 1..3; `names` the object names of panel, caption, track, knob,
  // minimum, maximum, value and value copy; `tag` the number shared by track and knob.
  TFilterSlider(int index, const std::array<const char*, 8>& names, int tag, QWidget* parent = nullptr);

  static constexpr int KnobWidth = 12;
  static constexpr int Travel = 160;  // track width minus a third of the knob

  QLabel* Caption = nullptr;
  QFrame* Track = nullptr;
  QFrame* Knob = nullptr;
  QLabel* MinLabel = nullptr;
  QLabel* MaxLabel = nullptr;
  QLabel* ValueLabel = nullptr;
  QLabel* ValueCopy = nullptr;  // the text a computation reads

  // Shows the table entry of slider `index` of function `nr`.
  void Setup(int nr);
  // Renews the value text and its copy.
  void UpdateValueText();
  // The knob's offset along the track, 0..Travel.
  int Offset() const;
  int Index() const { return index_; }

signals:
  // The user moved the knob (the table holds the new position).
  void Changed(int index);

protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void MoveKnob(int offset);
  int KnobThird() const { return KnobWidth / 3; }

  int index_;
  int nr_ = 0;
  bool dragging_ = false;
  QPoint dragCursor_;  // global position at the press
  int dragLeft_ = 0;   // knob's left edge at the press
};

}  // namespace astrelon
