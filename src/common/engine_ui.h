#pragma once
// The engine's view of the user interface: progress, questions, messages and
// pending events. The Qt user interface installs its implementation at start-up;
// tests install their own. Without one, questions take their default answer and
// messages are collected in a list that tests can read.
#include <string>
#include <vector>

namespace astrelon {

enum class TDialogAnswer { Yes, No, Cancel, Ok };

class TEngineUi {
public:
  virtual ~TEngineUi() = default;
  // Lets the user interface repaint and handle input (abort keys, window closes).
  virtual void ProcessMessages() {}
  // Shows a message; the engine goes on when the user has read it.
  virtual void ShowMessage(const std::string& text) { Messages.push_back(text); }
  // Asks a question with Yes/No/Cancel buttons (or Yes/No when allowCancel is false).
  virtual TDialogAnswer AskYesNoCancel(const std::string& text, bool allowCancel) {
    Messages.push_back(text);
    return DefaultAnswer;
  }
  // The same question with Yes/No/Cancel under a caption of its own.
  virtual TDialogAnswer AskYesNoCancelTitled(const std::string& caption, const std::string& text) {
    return AskYesNoCancel(text, true);
  }
  // Asks for a line of text with a caption and a prompt; the edited text, or
  // `defaultValue` when the user cancels.
  virtual std::string InputBox(const std::string& caption, const std::string& prompt,
                               const std::string& defaultValue) {
    Messages.push_back(prompt);
    return defaultValue;
  }
  // Status bar text of a long operation.
  virtual void ShowStatus(const std::string& text) {}

  // Used by the default implementation (and by tests that install it).
  std::vector<std::string> Messages;
  TDialogAnswer DefaultAnswer = TDialogAnswer::Yes;
};

// The interface in use; never null.
TEngineUi& EngineUi();
// Installs an implementation (nullptr restores the default one). The caller keeps ownership.
void SetEngineUi(TEngineUi* ui);
// Whether an implementation other than the default one is installed.
bool EngineUiInstalled();

}  // namespace astrelon
