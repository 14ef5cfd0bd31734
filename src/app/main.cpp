// The program: astrelon [FILE...]
#include <QApplication>

#include "shell/ui/main_window.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Astrelon");
  astrelon::TMainForm window;
  window.show();
  return QApplication::exec();
}
