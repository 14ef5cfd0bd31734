#pragma once
// The header editor "Fits-Header": the header cards of the active image as
// plain text, one card per line, in a fixed-pitch editor. Typing writes the
// lines back into the slot's cards at once; a timer reloads the text when
// another image becomes active or an operation on the shown image has ended.
#include <QWidget>
#include <string>

class QPlainTextEdit;
class QTimer;

namespace astrelon {

class TForm3 : public QWidget {
  Q_OBJECT
public:
  explicit TForm3(QWidget* parent = nullptr);
  ~TForm3() override;

  QPlainTextEdit* RichEdit1 = nullptr;
  QTimer* Timer1 = nullptr;  // 100 ms while shown

  int32_t ShownSlot = 0;  // slot whose cards are in the editor; 0 when none

  // Shown at once when "FitsHeader1" is checked.
  void FormCreate();
  // Reloads when the active slot differs from the shown one, or when an
  // operation has ended (or the cards changed) since the last load.
  void Timer1Timer();
  // Fills the editor from the active slot's cards up to and including END.
  void LoadHeader();
  // Every line of the editor becomes the card of its index (the list grows to
  // the line count and never shrinks).
  void Memo1Change();

protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void changeEvent(QEvent* e) override;

private:
  void FirstShow();
  void FormActivate(bool active);

  bool active_ = false;           // false while the editor is being filled
  uint8_t operationRunning_ = 0;  // the operation flag at the last load
  bool cardsChanged_ = false;     // the shown slot's cards were changed elsewhere
  bool shownBefore_ = false;
  friend void HeaderCardsChanged(int slot);
};

// Creates the window at program start and attaches it to the main window
// ("FitsHeader1", the tool-bar button, following the main window).
TForm3* CreateHeaderWindow(QWidget* mainWindow);
TForm3* HeaderWindow();

// A line of the editor as a card: characters outside 32..126 become "?", then
// the text is cut to 80 characters.
std::string EditorLineToCard(const QString& line);

}  // namespace astrelon
