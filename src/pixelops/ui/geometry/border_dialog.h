#pragma once
// The dialog "Rand hinzufügen": margins typed for the four sides and the value
// that fills them; "&Ok" grows a copy of the image into a new window.
#include <QDialog>
#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;

namespace astrelon {

class TForm5 : public QDialog {
  Q_OBJECT
public:
  explicit TForm5(QWidget* parent = nullptr);

  QLabel* Label1;  // "Oben"
  QLabel* Label2;  // "Unten"
  QLabel* Label3;  // "Links"
  QLabel* Label4;  // "Rechts"
  QLabel* Label5;  // "Pixelwert"
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QLineEdit* Edit3;
  QLineEdit* Edit4;
  QLineEdit* Edit5;
  QPushButton* Button1;  // "&Ok"
  QPushButton* Button2;  // "&Abbruch"

  int32_t SourceSlot = -1;  // the slot active when the dialog was opened

  void FormShow();
  void Button1Click();

protected:
  void showEvent(QShowEvent* e) override;
};

// Opens the dialog for the active image (menu "Rand erweitern").
void AddBorderCommand(class QAction* sender);

}  // namespace astrelon
