#pragma once
// The help window: one of three pages of paragraphs (image addition, batch
// processing with a second part behind "weiter>", tips).
#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace astrelon {

class TForm14 : public QDialog {
  Q_OBJECT
public:
  explicit TForm14(QWidget* parent = nullptr);

  // Page 1..3 and the caption of the menu item that opens it; set before showing.
  int Page = 1;
  QString OpenerCaption;
  // Sets page and caption and shows the window.
  void ShowPage(int page, const QString& openerCaption);

  QPlainTextEdit* Memo1;
  QPushButton* Button1;  // "&Ok"
  QPushButton* Button2;  // "weiter>", only on page 2
  QLabel* Label13;       // empty; a click asks for the menu access code

  void Button2Click();

protected:
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void AddGroup(int group);
};

}  // namespace astrelon
