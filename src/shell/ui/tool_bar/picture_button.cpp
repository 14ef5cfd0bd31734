#include "shell/ui/tool_bar/picture_button.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

#include "shell/ui/controls/control_utils.h"

namespace astrelon {

TPNGButton::TPNGButton(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_Hover); }

void TPNGButton::SetSource(const QImage& source) {
  source_ = source;
  SetShown(source);
}

void TPNGButton::SetShown(const QImage& shown) {
  shown_ = shown;
  hover_ = BrightenPngImage(shown, false);
  pressed_ = BrightenPngImage(shown, true);
  updateGeometry();
  update();
}

void TPNGButton::SetHint(const QString& hint) {
  setToolTip(hint);
  setStatusTip(hint);
}

QSize TPNGButton::sizeHint() const { return shown_.size() + QSize(6, 6); }

void TPNGButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QImage& img = !isEnabled() ? shown_ : down_ ? pressed_ : over_ ? hover_ : shown_;
  if (!isEnabled()) p.setOpacity(0.35);
  p.drawImage((width() - img.width()) / 2, (height() - img.height()) / 2, img);
}

void TPNGButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  down_ = true;
  update();
  emit leftPressed();
}

void TPNGButton::mouseReleaseEvent(QMouseEvent*) {
  down_ = false;
  update();
}

void TPNGButton::enterEvent(QEnterEvent*) {
  over_ = true;
  update();
}

void TPNGButton::leaveEvent(QEvent*) {
  over_ = down_ = false;
  update();
}

}  // namespace astrelon
