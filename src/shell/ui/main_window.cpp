#include "shell/ui/main_window.h"

#include <QMdiArea>

namespace astrelon {

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("Astrelon");
  setCentralWidget(new QMdiArea(this));
  resize(1024, 768);
}

}  // namespace astrelon
