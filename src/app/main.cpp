// The program: astrelon [FILE...]
#include "shell/ui/main/main_window.h"
#include "shell/ui/safe_application.h"

int main(int argc, char* argv[]) {
  astrelon::TSafeApplication app(argc, argv);
  astrelon::TSafeApplication::setApplicationName("Astrelon");
  int result = 0;
  {
    astrelon::TMainForm window;
    window.show();
    result = astrelon::TSafeApplication::exec();
    window.FormDestroy();
  }
  return result;
}
