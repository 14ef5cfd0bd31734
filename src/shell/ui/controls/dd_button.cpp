#include "shell/ui/controls/dd_button.h"

#include <QMouseEvent>
#include <QPainter>

#include "shell/ui/controls/control_utils.h"

namespace astrelon {

TqzDDButton::TqzDDButton(QWidget* parent) : QWidget(parent) {
  resize(100, 25);
  FontColor = palette().buttonText().color();
  setFocusPolicy(Qt::StrongFocus);
}

void TqzDDButton::setCaption(const QString& caption) {
  caption_ = caption;
  update();
}

QFont TqzDDButton::CaptionFont() const {
  QFont f = font();
  f.setPointSize(FontSize);
  return f;
}

QString TqzDDButton::ShownCaption() const {
  const QFontMetrics m(CaptionFont());
  return CutCaption(caption_, m.horizontalAdvance(caption_), width() - height());
}

void TqzDDButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  const int w = width(), h = height();
  p.fillRect(rect(), pal.button());
  const QColor light = pal.light().color(), shadow = pal.dark().color();
  p.setPen(Pressed ? shadow : light);
  p.drawRect(0, 0, w - 1, h - 1);
  p.setPen(Pressed ? light : shadow);
  p.drawLine(0, h - 1, w - 1, h - 1);
  p.drawLine(w - 1, h - 1, w - 1, 0);

  p.setFont(CaptionFont());
  p.setPen(FontColor);
  const QFontMetrics m(CaptionFont());
  const int area = w - h;
  const int tw = m.horizontalAdvance(caption_);
  const int y = (h - m.height()) / 2 + (Pressed ? 1 : 0) + m.ascent();
  if (tw < area)
    p.drawText((area - tw) / 2 + 2 + (Pressed ? 1 : 0), y, caption_);
  else
    p.drawText(Pressed ? 3 : 2, y, ShownCaption());

  if (ShowArrow) {
    const int half = h / 2;
    const int x = w - half - 3 + (Pressed ? 1 : 0);
    const int ay = Pressed ? half - 1 : half - 2;
    p.setPen(pal.buttonText().color());
    p.setBrush(pal.buttonText());
    const QPoint tri[3] = {{x, ay}, {x + 8, ay}, {x + 4, ay + 4}};
    p.drawPolygon(tri, 3);
  }
}

void TqzDDButton::mousePressEvent(QMouseEvent* e) {
  QWidget::mousePressEvent(e);
  if (e->button() == Qt::LeftButton && ShowArrow) {
    Pressed = true;
    update();
  }
}

void TqzDDButton::mouseReleaseEvent(QMouseEvent* e) {
  QWidget::mouseReleaseEvent(e);
  const bool wasPressed = Pressed;
  Pressed = false;
  update();
  if (e->button() == Qt::LeftButton && (wasPressed || !ShowArrow) && rect().contains(e->pos())) emit clicked();
}

}  // namespace astrelon
