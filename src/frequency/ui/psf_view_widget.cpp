#include "frequency/ui/psf_view_widget.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>
#include <cstring>

namespace astrelon {

TPsfViewWidget::TPsfViewWidget(QWidget* parent)
    : QWidget(parent), picture_(PsfGridSide, PsfGridSide, QImage::Format_Grayscale8) {
  picture_.fill(0);
  setFixedSize(PsfGridSide * Scale, PsfGridSide * Scale);
  setMouseTracking(true);
}

void TPsfViewWidget::SetPicture(const std::array<uint8_t, 4096>& bytes) {
  for (int y = 0; y < PsfGridSide; ++y) std::memcpy(picture_.scanLine(y), bytes.data() + y * PsfGridSide, PsfGridSide);
  update();
}

void TPsfViewWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(rect(), picture_);
}

namespace {

int PicturePixel(qreal screen) { return int(std::floor(screen / TPsfViewWidget::Scale)); }

}  // namespace

void TPsfViewWidget::mousePressEvent(QMouseEvent* e) {
  if (Pressed) Pressed(PicturePixel(e->position().x()), PicturePixel(e->position().y()), e->button());
}

void TPsfViewWidget::mouseMoveEvent(QMouseEvent* e) {
  if (Moved) Moved(PicturePixel(e->position().x()), PicturePixel(e->position().y()), e->buttons());
}

}  // namespace astrelon
