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

void TQtEngineUi::ShowStatus(const std::string& text) {
  if (StatusSink) StatusSink(text);
}

TQtEngineUi& QtEngineUi() {
  static TQtEngineUi ui;
  return ui;
}

}  // namespace astrelon
