#pragma once
// The engine's view of the user interface, on Qt: pending events, the translated
// message box, Yes/No/Cancel box and input box, and the main window's status
// bar.
#include <functional>

#include "common/engine_ui.h"

namespace astrelon {

class TQtEngineUi : public TEngineUi {
public:
  void ProcessMessages() override;
  void ShowMessage(const std::string& text) override;
  TDialogAnswer AskYesNoCancel(const std::string& text, bool allowCancel) override;
  TDialogAnswer AskYesNoCancelTitled(const std::string& caption, const std::string& text) override;
  std::string InputBox(const std::string& caption, const std::string& prompt,
                       const std::string& defaultValue) override;
  void ShowStatus(const std::string& text) override;

  // Where status texts go (the main window's status bar); none: dropped.
  std::function<void(const std::string&)> StatusSink;
};

// The program's instance, installed at start-up.
TQtEngineUi& QtEngineUi();

}  // namespace astrelon
