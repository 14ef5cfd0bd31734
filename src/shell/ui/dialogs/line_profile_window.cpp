#include "shell/ui/dialogs/line_profile_window.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <array>
#include <cmath>

#include "common/pascal_format.h"
#include "core/language.h"
#include "shell/main/main_services.h"
#include "shell/slots/graph_image.h"
#include "shell/stamps/line_marking.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/mouse_tools.h"
#include "shell/ui/windows/window_creation.h"
#include "store/ui/preview_control.h"

namespace astrelon {

namespace {

constexpr int FormNumber = 26;

QColor CurveColour(int colorModel, int plane) {
  static constexpr std::array<std::array<int, 3>, 6> rgb{{{255, 48, 48}, {0, 208, 0}, {64, 64, 255},
                                                          {128, 128, 128}, {0, 128, 255}, {255, 128, 0}}};
  const auto& c = rgb[size_t((colorModel == 1 ? 3 : 0) + plane)];
  return {c[0], c[1], c[2]};
}

QColor TextColour(int colorModel, int plane) {
  static constexpr std::array<std::array<int, 3>, 6> rgb{{{128, 24, 24}, {0, 104, 0}, {32, 32, 128},
                                                          {64, 64, 64}, {0, 64, 128}, {128, 64, 0}}};
  const auto& c = rgb[size_t((colorModel == 1 ? 3 : 0) + plane)];
  return {c[0], c[1], c[2]};
}

QString ValueLabel(double v) { return QString::fromStdString(FloatToStrF(v, TFloatFormat::General, 7, 0)); }

bool Blank(float v) { return !(v > -1e9f); }

}  // namespace

TForm26::TForm26(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("Form26");
  setWindowTitle(" Pixelwerte auf einer Linie");
  setMouseTracking(true);
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setSizeGripEnabled(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addStretch();
  layout->addWidget(StatusBar1);
  PopupMenu1 = new QMenu(this);
  Pixelwerteeintragen1 = PopupMenu1->addAction("Pixelwerte eintragen");
  Pixelwerteeintragen1->setObjectName("Pixelwerteeintragen1");
  Pixelwerteeintragen1->setCheckable(true);
  PopupMenu1->addSeparator();
  popup1 = PopupMenu1->addAction("Bild von der Grafik machen");
  popup1->setObjectName("popup1");
  connect(Pixelwerteeintragen1, &QAction::toggled, this, [this] { update(); });
  connect(popup1, &QAction::triggered, this, [this] { popup1Click(); });
  resize(520, 300);
}

int TForm26::PlotClientHeight() const { return height() - StatusBar1->height(); }

void TForm26::showEvent(QShowEvent* e) {
  if (LanguageFileLoaded) {
    setWindowTitle(QString::fromStdString(LangTextOr(284, " Pixelwerte auf einer Linie")));
    popup1->setText(QString::fromStdString(LangTextOr(796, "Bild von der Grafik machen")));
    Pixelwerteeintragen1->setText(QString::fromStdString(LangTextOr(540, "Pixelwerte eintragen")));
  }
  QWidget::showEvent(e);
}

void TForm26::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  Samples = {};
  Sampled = false;
  const int slot = LineMarking.Slot;
  ClearLineMarking();
  if (TMDIChild* w = ImageWindow(slot)) RefreshToolLayer(*w);
  // Freed: the next use makes a new window.
  ReleaseDialogForm(objectName());
}

void TForm26::EnsureSamples() {
  const int slot = LineMarking.Slot;
  if (!SlotInUse(slot) || !LineMarking.Lines[1].Drawn) {
    Samples = {};
    Sampled = false;
    return;
  }
  if (Sampled && Samples.ColorModel == Store.Image[size_t(slot)].ColorModel) return;
  Samples = SampleLine(slot, LineMarking.Lines[1].P1, LineMarking.Lines[1].P2);
  Sampled = Samples.PlaneCount > 0;
}

void TForm26::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int cw = width(), h = PlotClientHeight();
  p.fillRect(QRect(0, 0, cw, h), Qt::white);
  if (cw < 76 || h < 66) return;
  EnsureSamples();
  if (!Sampled || !Samples.Valid()) return;
  DrawDiagram(p, cw, h);
}

void TForm26::DrawDiagram(QPainter& p, int cw, int h) {
  const TLineSamples& s = Samples;
  const TValueRange range = DiagramRange(s);
  const int plotH = h - 35;
  QFont font = p.font();
  font.setPointSize(8);
  p.setFont(font);
  const QFontMetrics fm(font);
  const QColor labelColour(64, 64, 64), gridColour(208, 208, 208);

  // Value axis: ticks at multiples of the minor step, counted from the top.
  const TAxisSteps vs = ValueAxisSteps(plotH, range.High - range.Low);
  const int64_t ratio = std::max<int64_t>(std::llround(vs.Major / vs.Minor), 1);
  const int64_t kTop = int64_t(std::floor(range.High / vs.Minor + 1e-9));
  const int64_t kBottom = int64_t(std::ceil(range.Low / vs.Minor - 1e-9));
  const double firstMajor = std::floor(range.High / vs.Major + 1e-9) * vs.Major;
  LeftMargin = std::max(std::max(fm.horizontalAdvance(ValueLabel(firstMajor)),
                                 fm.horizontalAdvance(ValueLabel(firstMajor - vs.Major))) + 10, 30);
  const int plotW = cw - LeftMargin - 20;
  const int lm = LeftMargin, right = cw - 21, base = h - 24;

  if (plotW >= 1) {
    for (int64_t k = kTop; k >= kBottom && kTop - k < 100000; --k) {
      const int y = ValueToY(double(k) * vs.Minor, range, h);
      if (y < 11 || y > h - 30) continue;
      if (k % ratio == 0) {
        p.setPen(gridColour);
        p.drawLine(lm + 1, y, right, y);
        p.setPen(labelColour);
        const QString text = ValueLabel(double(k) * vs.Minor);
        p.drawText(QPoint(lm - 4 - fm.horizontalAdvance(text), y - 5 + fm.ascent()), text);
      } else {
        p.setPen(Qt::black);
        p.drawLine(lm, y, lm + 4, y);
      }
    }
  }
  p.setPen(Qt::black);
  p.drawLine(lm, 11, lm, base);
  p.drawLine(lm, base, cw - 20, base);
  p.setPen(labelColour);
  p.drawText(QPoint(cw - 16, h - 29 + fm.ascent()), s.Horizontal ? "X" : "Y");
  if (plotW < 1) return;  // narrower than its labels: the axes only

  // Position axis.
  const double step = double(s.Count) / plotW;
  const int labelWidth = fm.horizontalAdvance(QString::fromStdString(IntToStr(int64_t(s.Start) + s.Count))) + 5;
  const TAxisSteps ps = PositionAxisSteps(plotW, labelWidth, s.Count);
  for (int x = lm + 1; x <= right && s.Count > 0; ++x) {
    const double pos = s.Start - 0.49 + (x - lm - 1) * step;
    const double before = pos - step;
    if (std::floor(pos / ps.Major) != std::floor(before / ps.Major)) {
      const double value = std::floor(pos / ps.Major) * ps.Major;
      p.setPen(gridColour);
      p.drawLine(x, x - lm - 1 < 7 ? h - 32 : 11, x, base);
      p.setPen(labelColour);
      const QString text = QString::fromStdString(IntToStr(int64_t(value)));
      p.drawText(QPoint(x - fm.horizontalAdvance(text) / 2, h - 19 + fm.ascent()), text);
    } else if (std::floor(pos / ps.Minor) != std::floor(before / ps.Minor)) {
      p.setPen(Qt::black);
      p.drawLine(x, h - 28, x, base);
    }
  }

  // Curves: continued at each column where the sample changes; blanks break them.
  auto sampleAt = [&](int x) {
    if (x >= right) return s.Count;
    return std::min(s.Count, int32_t((x - lm - 1) * step + 0.01));
  };
  std::array<QPoint, 3> last{};
  std::array<bool, 3> open{};
  int previous = -1;
  for (int x = lm + 1; x <= right; ++x) {
    const int i = sampleAt(x);
    if (i == previous && x != right) continue;
    previous = i;
    for (int pl = 0; pl < s.PlaneCount; ++pl) {
      const float v = s.Planes[size_t(pl)][size_t(i)];
      if (Blank(v)) {
        open[size_t(pl)] = false;
        continue;
      }
      const QPoint at(x, ValueToY(v, range, h));
      p.setPen(CurveColour(s.ColorModel, pl));
      if (open[size_t(pl)]) p.drawLine(last[size_t(pl)], at);
      last[size_t(pl)] = at;
      open[size_t(pl)] = true;
    }
  }

  if (!Pixelwerteeintragen1->isChecked()) return;
  // The values above their points, each right of the text before it.
  QFont small = font;
  small.setPointSize(7);
  p.setFont(small);
  const QFontMetrics sm(small);
  const int digits = PointTextDigits(plotW, s.Count);
  const double halfSample = s.Count > 0 ? 0.5 * plotW / s.Count : 0.0;
  std::array<int, 3> textEnd{INT32_MIN, INT32_MIN, INT32_MIN};
  auto writeValue = [&](int i, double centre) {
    for (int pl = 0; pl < s.PlaneCount; ++pl) {
      const float v = s.Planes[size_t(pl)][size_t(i)];
      if (Blank(v)) continue;
      const QString text = QString::fromStdString(PointValueText(v, digits));
      const int left = int(std::lround(centre)) - sm.horizontalAdvance(text) / 2;
      if (left <= textEnd[size_t(pl)]) continue;
      p.setPen(TextColour(s.ColorModel, pl));
      p.drawText(QPoint(left, ValueToY(v, range, h) - 12 + sm.ascent()), text);
      textEnd[size_t(pl)] = left + sm.horizontalAdvance(text);
    }
  };
  previous = 0;
  for (int x = lm + 2; x <= right; ++x) {
    const int i = x == right ? s.Count : std::min(s.Count, int32_t((x - lm - 1) * step + 0.01));
    if (i == previous) continue;
    writeValue(previous, x - halfSample);
    previous = i;
  }
  writeValue(s.Count, cw - 20 - halfSample);
}

void TForm26::mouseMoveEvent(QMouseEvent* e) {
  const int plotW = width() - LeftMargin - 20;
  if (plotW <= 0 || !Sampled) return;
  const int index = int(int64_t(Samples.Count) * (e->position().toPoint().x() - LeftMargin - 1) / plotW);
  if (index < 0 || index >= Samples.Count) return;
  const TPointI at = Samples.Point(index);
  StatusBar1->showMessage(QString::fromStdString(PixelValueText(LineMarking.Slot, at.X, at.Y)));
}

void TForm26::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::RightButton) PopupMenu1->popup(e->globalPosition().toPoint());
}

int TForm26::popup1Click() {
  const QImage picture = grab(QRect(0, 0, width(), PlotClientHeight())).toImage();
  const int slot = picture.isNull() ? -1 : PictureToNewImage(ImagePicture(picture));
  if (slot >= 1) ShowImageWindow(slot);
  return slot;
}

void ShowLineProfileWindow() {
  RegisterDialogForm(FormNumber, [] { return new TForm26; });
  EnsureDialogForm(FormNumber);
  TForm26* form = LineProfileWindow();
  if (!form) return;
  form->Sampled = false;
  form->show();
  form->update();
}

void CloseLineProfileWindow() {
  if (TForm26* form = LineProfileWindow()) form->close();
}

TForm26* LineProfileWindow() { return qobject_cast<TForm26*>(DialogForm(FormNumber)); }

}  // namespace astrelon
