#include "shell/ui/controls/up_down.h"

#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace astrelon {

TUpDown::TUpDown(int min, int max, int position, QWidget* parent)
    : QWidget(parent), min_(min), max_(std::max(min, max)), position_(std::clamp(position, min, std::max(min, max))) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  Up = new QToolButton(this);
  Down = new QToolButton(this);
  Up->setArrowType(Qt::UpArrow);
  Down->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {Up, Down}) {
    b->setFixedSize(17, 11);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
    layout->addWidget(b);
  }
  connect(Up, &QToolButton::clicked, this, [this] { Step(true); });
  connect(Down, &QToolButton::clicked, this, [this] { Step(false); });
}

void TUpDown::SetPosition(int position) { position_ = std::clamp(position, min_, max_); }

void TUpDown::Step(bool up) {
  SetPosition(position_ + (up ? 1 : -1));
  emit Clicked(up);
}

}  // namespace astrelon
