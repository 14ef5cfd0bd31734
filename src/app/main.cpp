// The program: astrelon [FILE...]
#include "app/ui/program_commands.h"
#include "shell/ui/main/main_window.h"
#include "shell/ui/safe_application.h"

int main(int argc, char* argv[]) {
  astrelon::TSafeApplication app(argc, argv);
  astrelon::TSafeApplication::setApplicationName("Astrelon");
  astrelon::RegisterProgramCommands();
  int result = 0;
  {
    astrelon::TMainForm window;
    window.show();
    result = astrelon::TSafeApplication::exec();
    window.FormDestroy();
  }
  return result;
}
