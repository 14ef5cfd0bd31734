#include "shell/ui/controls/up_down.h"

#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace astrelon {

void MakeArrowPair(QWidget* host, int buttonWidth, QToolButton*& up, QToolButton*& down) {
  auto* layout = new QVBoxLayout(host);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  up = new QToolButton(host);
  down = new QToolButton(host);
  up->setArrowType(Qt::UpArrow);
  down->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up, down}) {
    b->setFixedSize(buttonWidth, 11);
    b->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(b);
  }
}

TUpDown::TUpDown(int min, int max, int position, QWidget* parent)
    : QWidget(parent), min_(min), max_(std::max(min, max)), position_(std::clamp(position, min, std::max(min, max))) {
  MakeArrowPair(this, 17, Up, Down);
  for (QToolButton* b : {Up, Down}) b->setAutoRepeat(true);
  connect(Up, &QToolButton::clicked, this, [this] { Step(true); });
  connect(Down, &QToolButton::clicked, this, [this] { Step(false); });
}

void TUpDown::SetPosition(int position) { position_ = std::clamp(position, min_, max_); }

void TUpDown::Step(bool up) {
  SetPosition(position_ + (up ? 1 : -1));
  emit Clicked(up);
}

}  // namespace astrelon
