#pragma once
// Helpers of the user-interface tests: the application object and answering
// modal dialogs from a timer while the code under test waits in them.
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
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

// Answers the modal prompts that show up next, in turn: an answer is typed into
// the dialog's line edit and accepted, nullopt cancels. The prompt texts are
// collected. Keep the object until the code under test has returned.
class PromptAnswers {
public:
  explicit PromptAnswers(std::vector<std::optional<QString>> answers)
      : queue_(std::make_shared<std::vector<std::optional<QString>>>(std::move(answers))),
        prompts_(std::make_shared<std::vector<QString>>()),
        next_(std::make_shared<std::function<void()>>()) {
    auto queue = queue_;
    auto prompts = prompts_;
    std::weak_ptr<std::function<void()>> next = next_;
    *next_ = [queue, prompts, next] {
      if (queue->empty()) return;
      WhenModal([queue, prompts, next](QWidget* w) {
        const std::optional<QString> answer = queue->front();
        queue->erase(queue->begin());
        auto* dialog = qobject_cast<QDialog*>(w);
        if (auto* input = qobject_cast<QInputDialog*>(w)) prompts->push_back(input->labelText());
        else if (auto* label = w->findChild<QLabel*>("Label1")) prompts->push_back(label->text());
        if (answer) {
          w->findChild<QLineEdit*>()->setText(*answer);
          dialog->accept();
        } else {
          dialog->reject();
        }
        if (auto chain = next.lock()) (*chain)();
      });
    };
    (*next_)();
  }
  const std::vector<QString>& Prompts() const { return *prompts_; }

private:
  std::shared_ptr<std::vector<std::optional<QString>>> queue_;
  std::shared_ptr<std::vector<QString>> prompts_;
  std::shared_ptr<std::function<void()>> next_;
};

}  // namespace astrelon::test
