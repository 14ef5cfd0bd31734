#pragma once
// The application object. Command handlers catch their own errors; as a last
// safety net an exception that still reaches the event loop is shown as a
// message instead of ending the program.
#include <QApplication>

namespace astrelon {

class TSafeApplication : public QApplication {
  Q_OBJECT
public:
  TSafeApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the message of an exception caught at the event loop.
void ReportUnhandledException(const char* what);

}  // namespace astrelon
