#pragma once
// The translated small dialogs every command uses to ask and to tell: a
// Yes/No/Cancel box, an input query and a message box. Without a translation
// file their texts are German.
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace astrelon {

// Modal results, with the numbers callers compare against.
enum TModalResult : int {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
};

enum class TMsgDlgType { Warning, Error, Information, Confirmation, Custom };

// Button set of a message box.
enum TMsgDlgButton : unsigned {
  mbYes = 1,
  mbNo = 2,
  mbOK = 4,
  mbCancel = 8,
  mbAbort = 16,
  mbRetry = 32,
  mbIgnore = 64,
};

// The Yes/No/Cancel box.
class TForm31 : public QDialog {
  Q_OBJECT
public:
  explicit TForm31(QWidget* parent = nullptr);
  void Prepare(const QString& text, const QString& caption);

  QLabel* Label1;
  QPushButton* Button1;  // "Ja"
  QPushButton* Button2;  // "Nein"
  QPushButton* Button3;  // "Abbrechen"
};

// The input query.
class TForm30 : public QDialog {
  Q_OBJECT
public:
  explicit TForm30(QWidget* parent = nullptr);
  // Sets caption, prompt and value and lays the dialog out for the prompt's lines.
  void Prepare(const QString& caption, const QString& prompt, const QString& value);

  QLabel* Label1;
  QLineEdit* Edit1;
  QPushButton* Button1;  // "Ok"
  QPushButton* Button2;  // "Abbrechen"

protected:
  void showEvent(QShowEvent* e) override;
};

// Shows the question modally; mrYes, mrNo or mrCancel (also when closed otherwise).
int LangYesNoCancel(const QString& text, const QString& caption);
// Input query: true and the edited text in `value` after Ok; false and `value`
// unchanged otherwise.
bool LangInputQuery(const QString& caption, const QString& prompt, QString& value);
// The edited text after Ok, else `defaultValue`.
QString LangInputBox(const QString& caption, const QString& prompt, const QString& defaultValue);
// Standard message box of the type with the buttons; returns the modal result of
// the button pressed (mrCancel, or mrOk for a box without Cancel, when closed otherwise).
int LangMessageBox(const QString& text, TMsgDlgType type, unsigned buttons);

}  // namespace astrelon
