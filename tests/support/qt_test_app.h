#pragma once
// Helpers of the user-interface tests: the application object and answering
// modal dialogs from a timer while the code under test waits in them.
#include <functional>

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace astrelon::test {

// Calls `act` with the first modal dialog that shows up (polled every 5 ms).
inline void WhenModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (QWidget* w = QApplication::activeModalWidget(); w && w->isVisible()) {
      timer->stop();
      timer->deleteLater();
      act(w);
    }
  });
  timer->start();
}

}  // namespace astrelon::test
