#include "filters/ui/filter_slider.h"

#include <QLabel>
#include <QMouseEvent>
#include <algorithm>
#include <cmath>

#include "common/pascal_format.h"
#include "core/funktion_defs.h"

namespace astrelon {

namespace {
constexpr int TrackLeft = 44, TrackTop = 28, TrackHeight = 6;
constexpr int KnobTop = 22, KnobHeight = 18;
}  // namespace

TFilterSlider::TFilterSlider(int index, const std::array<const char*, 8>& names, int tag, QWidget* parent)
    : QFrame(parent), index_(index) {
  setObjectName(names[0]);
  setFixedHeight(46);
  setMinimumWidth(290);
  Caption = new QLabel(this);
  Caption->setObjectName(names[1]);
  Caption->setGeometry(8, 2, 180, 18);
  Track = new QFrame(this);
  Track->setObjectName(names[2]);
  Track->setFrameShape(QFrame::Panel);
  Track->setFrameShadow(QFrame::Sunken);
  Track->setGeometry(TrackLeft, TrackTop, Travel + KnobWidth / 3, TrackHeight);
  Track->setProperty("Tag", tag);
  Knob = new QFrame(this);
  Knob->setObjectName(names[3]);
  Knob->setFrameShape(QFrame::Panel);
  Knob->setFrameShadow(QFrame::Raised);
  Knob->setAutoFillBackground(true);
  Knob->setBackgroundRole(QPalette::Button);
  Knob->setGeometry(TrackLeft - KnobThird(), KnobTop, KnobWidth, KnobHeight);
  Knob->setProperty("Tag", tag);
  Knob->setCursor(Qt::SizeHorCursor);
  MinLabel = new QLabel(this);
  MinLabel->setObjectName(names[4]);
  MinLabel->setGeometry(2, 22, TrackLeft - 8, 18);
  MinLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MinLabel->setText("0");
  MaxLabel = new QLabel(this);
  MaxLabel->setObjectName(names[5]);
  MaxLabel->setGeometry(TrackLeft + Travel + KnobWidth, 22, 60, 18);
  ValueLabel = new QLabel(this);
  ValueLabel->setObjectName(names[6]);
  ValueLabel->setGeometry(190, 2, 94, 18);
  ValueLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  ValueCopy = new QLabel(this);
  ValueCopy->setObjectName(names[7]);
  ValueCopy->hide();
  Track->installEventFilter(this);
  Knob->installEventFilter(this);
  Knob->raise();
}

void TFilterSlider::Setup(int nr) {
  nr_ = nr;
  const FTrackbar& t = FunktionDefTable[size_t(nr)].Trackbar[size_t(index_ - 1)];
  Caption->setText(QString::fromStdString(t.Caption));
  // The third slider never shows its minimum (its label keeps "0").
  if (index_ != 3) {
    const bool fraction = t.Min > 0 && t.Min < 1;
    MinLabel->setText(QString::fromStdString(fraction ? FormatFixed(t.Min, 1) : IntToStr(Round(t.Min))));
  }
  MaxLabel->setText(QString::fromStdString(IntToStr(Round(t.Max))));
  UpdateValueText();
  // A stored position outside 0..1 (a damaged settings file) keeps the knob on the track.
  const double p = std::clamp(double(t.Position), 0.0, 1.0);
  MoveKnob(int(Round(p * Travel)));
}

void TFilterSlider::UpdateValueText() {
  const QString text = QString::fromStdString(FunktionParamText(nr_, index_));
  ValueLabel->setText(text);
  ValueCopy->setText(text);
}

int TFilterSlider::Offset() const { return Knob->x() - Track->x() + KnobThird(); }

void TFilterSlider::MoveKnob(int offset) {
  offset = std::clamp(offset, 0, Travel);
  Knob->move(Track->x() - KnobThird() + offset, Knob->y());
}

bool TFilterSlider::eventFilter(QObject* watched, QEvent* e) {
  if (watched != Knob && watched != Track) return QFrame::eventFilter(watched, e);
  const auto type = e->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
    return QFrame::eventFilter(watched, e);
  auto* m = static_cast<QMouseEvent*>(e);
  auto store = [&](int offset) {
    MoveKnob(offset);
    FunktionDefTable[size_t(nr_)].Trackbar[size_t(index_ - 1)].Position = float(Offset()) / float(Travel);
    UpdateValueText();
    emit Changed(index_);
  };
  if (watched == Knob) {
    if (type == QEvent::MouseButtonPress && m->button() == Qt::LeftButton) {
      dragging_ = true;
      dragCursor_ = m->globalPosition().toPoint();
      dragLeft_ = Knob->x();
    } else if (type == QEvent::MouseMove && dragging_ && (m->buttons() & Qt::LeftButton)) {
      const int moved = m->globalPosition().toPoint().x() - dragCursor_.x();
      const int offset = std::clamp(dragLeft_ + moved - Track->x() + KnobThird(), 0, Travel);
      if (offset != Offset()) store(offset);
    } else if (type == QEvent::MouseButtonRelease) {
      dragging_ = false;
    }
    return true;
  }
  if (type == QEvent::MouseButtonPress && m->button() == Qt::LeftButton) {
    // One pixel towards the press: left when the knob's left edge lies right of it.
    const int knobLeft = Knob->x() - Track->x();
    const int press = m->position().toPoint().x();
    store(Offset() + (knobLeft > press ? -1 : 1));
  }
  return true;
}

}  // namespace astrelon
