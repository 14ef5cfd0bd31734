#pragma once
// An engine user interface for tests that answers its questions from a list,
// in turn (the default answer once the list is used up), and collects every
// message and question.
#include <deque>
#include <string>

#include "common/engine_ui.h"

namespace astrelon::test {

class TScriptedUi : public TEngineUi {
public:
  std::deque<TDialogAnswer> Answers;
  int Questions = 0;

  TDialogAnswer AskYesNoCancel(const std::string& text, bool allowCancel) override {
    ++Questions;
    Messages.push_back(text);
    if (Answers.empty()) return DefaultAnswer;
    const TDialogAnswer answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
};

// Installs the interface for the life of the object.
class TScriptedUiScope {
public:
  explicit TScriptedUiScope(TScriptedUi& ui) { SetEngineUi(&ui); }
  ~TScriptedUiScope() { SetEngineUi(nullptr); }
  TScriptedUiScope(const TScriptedUiScope&) = delete;
  TScriptedUiScope& operator=(const TScriptedUiScope&) = delete;
};

}  // namespace astrelon::test
