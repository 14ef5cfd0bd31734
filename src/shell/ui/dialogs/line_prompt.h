#pragma once
// The instruction window of the line-marking operations (TForm20, form 20): it
// asks for the lines the operation needs while the image windows' line tool
// marks them, enables "Ok" once they are marked, and reports how it closed. It
// is sized to its instruction and opens beside the active image window.
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;

namespace astrelon {

class TForm20 : public QWidget {
  Q_OBJECT
public:
  explicit TForm20(QWidget* parent = nullptr);

  QLabel* Label1;
  QPushButton* Button1;  // "Ok"
  QPushButton* Button2;  // "Abbrechen"

  // Called once when the window closes, with LinePrompt.OkPressed.
  std::function<void(bool ok)> OnClose;

  void Button1Click();
  void Button2Click();

protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  // Return presses "Ok" while it is enabled; Escape acts as "Abbrechen".
  void keyPressEvent(QKeyEvent* e) override;

private:
  // Width and height that show the whole instruction.
  void FitToText();
  bool translated_ = false;
};

// Shows the prompt in a mode (1 one slanted line, 2 two opposite slanted lines,
// other: one line) without waiting; done(ok) runs when it closes.
void ShowLinePrompt(int mode, std::function<void(bool ok)> done);
// The line tool marked the lines asked for.
void EnableLinePromptOk();
// The prompt (nullptr when it is not shown).
TForm20* LinePromptWindow();

}  // namespace astrelon
