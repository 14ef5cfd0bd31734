#pragma once
// "Bild rotieren" by a typed angle and "Bild rotieren mit Hilfslinie" by a drawn
// line, each framed as chosen in the dialog "Ausschnitt", into a new window.
#include <QDialog>

class QAction;
class QPushButton;

namespace astrelon {

// The framing choice: 0 while showing or closed without a button, else 1..3.
class TForm29 : public QDialog {
  Q_OBJECT
public:
  explicit TForm29(QWidget* parent = nullptr);

  QPushButton* SpeedButton1;  // "Volles Bild"
  QPushButton* SpeedButton2;  // "Bild ausschneiden"
  QPushButton* SpeedButton3;  // "... und zurück skalieren"
  int Choice = 0;

  void FormShow();

protected:
  void showEvent(QShowEvent* e) override;
};

// Shows the choice dialog and waits for it: 1..3, or 0 when closed without a button.
int AskRotateFraming();

void RotateImageCommand(QAction* sender);
void RotateByGuideLineCommand(QAction* sender);

// The angle last typed for "Bild rotieren" (degrees), kept for the whole run.
extern double LastRotateAngle;

}  // namespace astrelon
