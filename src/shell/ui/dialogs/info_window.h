#pragma once
// The info text window: a small stay-on-top window that shows a block of text in
// a monospaced memo and sizes itself to it. Every use makes a new window, which
// frees itself when closed; successive windows open in a cascade.
#include <QPoint>
#include <QWidget>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace astrelon {

class TForm15 : public QWidget {
  Q_OBJECT
public:
  explicit TForm15(QWidget* parent = nullptr);

  QPushButton* Button1;  // "Ok"
  QPlainTextEdit* Memo1;
  // The text to show, set before the window is shown.
  std::string InfoText;

  // Lays InfoText into the memo and sizes the window; fresh clears the memo
  // first, otherwise the text is added below what it holds.
  void FitTextWindow(bool fresh);
  // Closes the window; the next one opens in its place.
  void Button1Click();

protected:
  void showEvent(QShowEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  bool shownOnce_ = false;
};

// Where the next info window opens; (0, 0) until the first one was placed.
extern QPoint InfoWindowPos;

// The statistics of the slot's working rectangle in a new info window.
void ShowRegionStatistics(int slot);

}  // namespace astrelon
