#include "shell/ui/qt_engine_ui.h"

#include <QCoreApplication>

#include "shell/ui/dialogs/small_dialogs.h"

namespace astrelon {

void TQtEngineUi::ProcessMessages() { QCoreApplication::processEvents(); }

void TQtEngineUi::ShowMessage(const std::string& text) {
  LangMessageBox(QString::fromStdString(text), TMsgDlgType::Custom, mbOK);
}

TDialogAnswer TQtEngineUi::AskYesNoCancel(const std::string& text, bool allowCancel) {
  const QString q = QString::fromStdString(text);
  const int r = allowCancel ? LangYesNoCancel(q, "Astrelon")
                            : LangMessageBox(q, TMsgDlgType::Confirmation, mbYes | mbNo);
  if (r == mrYes) return TDialogAnswer::Yes;
  if (r == mrNo) return TDialogAnswer::No;
  return allowCancel ? TDialogAnswer::Cancel : TDialogAnswer::No;
}

TDialogAnswer TQtEngineUi::AskYesNoCancelTitled(const std::string& caption, const std::string& text) {
  const int r = LangYesNoCancel(QString::fromStdString(text), QString::fromStdString(caption));
  if (r == mrYes) return TDialogAnswer::Yes;
  if (r == mrNo) return TDialogAnswer::No;
  return TDialogAnswer::Cancel;
}

std::string TQtEngineUi::InputBox(const std::string& caption, const std::string& prompt,
                                  const std::string& defaultValue) {
  return LangInputBox(QString::fromStdString(caption), QString::fromStdString(prompt),
                      QString::fromStdString(defaultValue))
      .toStdString();
}

void TQtEngineUi::ShowStatus(const std::string& text) {
  if (StatusSink) StatusSink(text);
}

TQtEngineUi& QtEngineUi() {
  static TQtEngineUi ui;
  return ui;
}

}  // namespace astrelon
