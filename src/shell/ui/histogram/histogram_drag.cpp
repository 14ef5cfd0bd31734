// The histogram window's mouse work and buttons: dragging the black and white
// markers, the slider knob and the curve grips, the mode cycle and the toggles.
#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "common/pascal_format.h"
#include "core/settings.h"
#include "shell/ui/histogram/histogram_geometry.h"
#include "shell/ui/histogram/histogram_window.h"
#include "shell/ui/main/main_services_ui.h"
#include "store/display/display_histogram.h"
#include "store/display/histogram_range.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

int TagOf(THistogramHit hit, int grip) {
  switch (hit) {
    case THistogramHit::Black: return 1;
    case THistogramHit::White: return 2;
    case THistogramHit::Knob: return 3;
    case THistogramHit::BlackGrip: return 10;
    case THistogramHit::WhiteGrip: return 11;
    case THistogramHit::CurveGrip: return grip;
    default: return 0;
  }
}

bool IsBlackMarker(THistogramHit h) { return h == THistogramHit::Black || h == THistogramHit::BlackGrip; }
bool IsWhiteMarker(THistogramHit h) { return h == THistogramHit::White || h == THistogramHit::WhiteGrip; }

}  // namespace

// ---- mouse ----

bool TForm2::AreaWantsPopup(QPoint pos) {
  int grip = 0;
  return HitTest(pos, grip) != THistogramHit::Knob;
}

void TForm2::AreaMousePress(QMouseEvent* e) {
  int grip = 0;
  const THistogramHit hit = HitTest(e->position().toPoint(), grip);
  if (hit == THistogramHit::None) return;
  TDisplayRecord& d = Store.Display[size_t(CurrentSlot)];
  if (e->button() == Qt::RightButton) {
    // The knob's right button brings the gamma back to 1.
    if (hit == THistogramHit::Knob && d.Gamma > 0 && d.Gamma < 9) {
      P = L / 2;
      d.Gamma = 1.0f;
      MarkChanged();
      UpdateHistogramControls();
    }
    return;
  }
  if (e->button() != Qt::LeftButton) return;
  if (hit == THistogramHit::Track) {
    // A press on the track moves the knob one pixel toward it.
    const int toward = e->position().x() < Shape3Rect().center().x() ? -1 : 1;
    KnobMoved(P + toward);
    return;
  }
  dragHit_ = hit;
  dragGrip_ = grip;
  frozen_ = AxisOf(d);
  DragTag = TagOf(hit, grip);
  for (size_t k = 0; k < 7; ++k) curveSnapshot_[k] = d.CurvePoints[k].X;
  dragStartPointer_ = e->globalPosition().toPoint();
  dragStartBlackX_ = BlackX;
  dragStartWhiteX_ = WhiteX;
  dragStartP_ = P;
  dragStartGrip_ = hit == THistogramHit::CurveGrip ? CurveGripRect(grip).topLeft() : QPoint();
}

void TForm2::AreaMouseMove(QMouseEvent* e) {
  if (dragHit_ == THistogramHit::None || !(e->buttons() & Qt::LeftButton) || !SlotUsable()) return;
  const int slot = CurrentSlot;
  TDisplayRecord& d = Store.Display[size_t(slot)];
  const QPoint delta = e->globalPosition().toPoint() - dragStartPointer_;
  const int Z = Zoom();
  double dx = delta.x();
  if (IsBlackMarker(dragHit_) || IsWhiteMarker(dragHit_)) {
    if (Z > 1) dx /= Z;
    if (IsBlackMarker(dragHit_)) {
      BlackX = float(std::clamp(std::min(dragStartBlackX_ + dx, double(WhiteX) - 3), -200.0, W + 200.0));
      d.Black = float(HistogramXToValue(slot, BlackX));
      if (d.Black < d.RangeLow) d.RangeLow = d.Black;
      WhiteX = std::max(WhiteX, BlackX + 3);
      Label8->setText(QString::fromStdString(FormatValueLabel(d.Black)));
    } else {
      WhiteX = float(std::clamp(std::max(dragStartWhiteX_ + dx, double(BlackX) + 3), -200.0, W + 200.0));
      d.White = float(HistogramXToValue(slot, WhiteX));
      if (d.White > d.RangeHigh) d.RangeHigh = d.White;
      BlackX = std::min(BlackX, WhiteX - 3);
      Label9->setText(QString::fromStdString(FormatValueLabel(d.White)));
    }
    if (d.Gamma == CurveModeGamma) {
      // The curve keeps its shape between the moved ends.
      const double x0 = curveSnapshot_[0], span = double(curveSnapshot_[6]) - x0;
      if (span != 0)
        for (size_t k = 0; k < 7; ++k)
          d.CurvePoints[k].X = float((curveSnapshot_[k] - x0) / span * (double(d.White) - d.Black) + d.Black);
    }
    MarkChanged();
    PlaceControls();
    return;
  }
  if (dragHit_ == THistogramHit::Knob) {
    KnobMoved(dragStartP_ + delta.x());
    return;
  }
  if (dragHit_ == THistogramHit::CurveGrip) {
    const int k = dragGrip_;
    const int S = ScrollOffset();
    const int top = std::clamp(dragStartGrip_.y() + delta.y() + 2, 14, H + 14);
    int lo = HistogramMargin + 1 + Round32(Z * double(BlackX)) - S;
    int hi = HistogramMargin - 1 + Round32(Z * double(WhiteX)) - S;
    if (k > 1)
      if (const QRect prev = CurveGripRect(k - 1); !prev.isNull()) lo = std::max(lo, prev.left() + 1);
    if (k < 5)
      if (const QRect next = CurveGripRect(k + 1); !next.isNull()) hi = std::min(hi, next.left() - 1);
    const int left = std::max(lo, std::min(dragStartGrip_.x() + delta.x(), hi));
    d.CurvePoints[size_t(k)].X = float(HistogramXToValue(slot, float(double(left + S - HistogramMargin) / Z)));
    d.CurvePoints[size_t(k)].Y = float(double(H - top + 14) / H);
    MarkChanged();
  }
}

void TForm2::AreaMouseRelease(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const THistogramHit hit = dragHit_;
  dragHit_ = THistogramHit::None;
  DragTag = 0;
  if ((IsBlackMarker(hit) || IsWhiteMarker(hit)) && SlotInUse(CurrentSlot)) {
    ComputeHistogram(CurrentSlot, false, false);
    MarkChanged();
    RefreshHistogramWindow();
  }
}

void TForm2::KnobMoved(int position) {
  if (!SlotUsable()) return;
  TDisplayRecord& d = Store.Display[size_t(CurrentSlot)];
  P = std::clamp(position, 0, L);
  if (d.Gamma == CurveModeGamma) {
    // Zoomed curve: the knob only scrolls.
  } else if (d.Gamma > 0) {
    d.Gamma = SliderPositionToGamma(P, L);
  } else {
    d.Gamma = SliderPositionToShare(P, L);
  }
  MarkChanged();
  PlaceControls();
}

// ---- buttons ----

void TForm2::Button1Click() {
  if (!SlotUsable()) return;
  const int slot = CurrentSlot;
  TDisplayRecord& d = Store.Display[size_t(slot)];
  if (d.Gamma > 0) {  // gamma -> equalisation share 0
    P = 0;
    d.Gamma = 0.0f;
  } else if (d.Gamma != CurveModeGamma) {  // equalisation -> curve
    ResetCurvePoints(slot);
    d.Gamma = CurveModeGamma;
    d.CurveMode = 1;
    RxSpinButton1->Tag = 1;
    P = L / 2;
  } else {  // curve -> gamma 1
    P = L / 2;
    d.Gamma = 1.0f;
  }
  UpdateHistogramControls();
  ApplyHistogramChange();
}

void TForm2::SpeedButton1Click() {
  if (!SlotUsable()) return;
  TDisplayRecord& d = Store.Display[size_t(CurrentSlot)];
  d.SpanBlackWhite = d.SpanBlackWhite ? 0 : 1;
  ComputeHistogram(CurrentSlot, false, false);
  RefreshHistogramWindow();
  ApplyHistogramChange();
}

void TForm2::SpeedButton2Click() {
  Settings.HistTransparent = SpeedButton2->isChecked() ? 1 : 0;
  update();
  Area->update();
}

void TForm2::SpeedButton3Click() {
  if (!SlotUsable()) return;
  const int slot = CurrentSlot;
  TDisplayRecord& d = Store.Display[size_t(slot)];
  d.SqrtHistogram = d.SqrtHistogram ? 0 : 1;
  ComputeHistogram(slot, false, false);
  RefreshHistogramWindow();
  // The equalisation follows the histogram's axis.
  if (!(d.Gamma > 0) && d.Gamma != CurveModeGamma) ImageChanged(slot);
}

void TForm2::SpeedButton4Click() {
  if (!SlotUsable()) return;
  TDisplayRecord& d = Store.Display[size_t(CurrentSlot)];
  d.LumaOnly = d.LumaOnly ? 0 : 1;
  SpeedButton4->setChecked(d.LumaOnly != 0);
  ApplyHistogramChange();
}

void TForm2::SpeedButton5Click() {
  if (!SlotUsable()) return;
  TDisplayRecord& d = Store.Display[size_t(CurrentSlot)];
  d.CurveMode = d.CurveMode ? 0 : 1;
  UpdateHistogramControls();
  ApplyHistogramChange();
}

void TForm2::RxSpinButton1TopClick() {
  RxSpinButton1->Tag = std::min(RxSpinButton1->Tag + 1, 4);
  UpdateHistogramControls();
}

void TForm2::RxSpinButton1BottomClick() {
  RxSpinButton1->Tag = std::max(RxSpinButton1->Tag - 1, 1);
  UpdateHistogramControls();
}

}  // namespace astrelon
