#include "shell/ui/safe_application.h"

#include <exception>
#include <new>
#include <string>

#include "common/engine_ui.h"

namespace astrelon {

TSafeApplication::TSafeApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void ReportUnhandledException(const char* what) {
  EngineUi().ShowMessage(std::string("Fehler: ") + (what && *what ? what : "unbekannter Fehler"));
}

bool TSafeApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::bad_alloc&) {
    ReportUnhandledException("Nicht genug Speicher");
  } catch (const std::exception& e) {
    ReportUnhandledException(e.what());
  } catch (...) {
    ReportUnhandledException(nullptr);
  }
  return false;
}

}  // namespace astrelon
