#pragma once
// The dialog "Farbkorrektur": nine percent fields that mix the three planes of
// the source into the result slot, previewed 500 ms after the last change,
// loaded from and saved to ".qzf" files. "&Ok" keeps the result with history
// cards, "&Abbruch" (or closing the dialog) closes the result slot.
#include <QWidget>
#include <array>

#include "pixelops/colour/color_matrix.h"

class QDoubleSpinBox;
class QFileDialog;
class QLabel;
class QPushButton;
class QTimer;
class QToolButton;

namespace astrelon {

constexpr int ColorCorrectionForm = 18;

class TForm18 : public QWidget {
  Q_OBJECT
public:
  TForm18();

  // Takes the source and the result slot (its window shown) and shows the dialog.
  void Start(int source, int destination);

  std::array<QDoubleSpinBox*, 9> RxSpinEdit{};  // RxSpinEdit1..9 as [0..8]
  std::array<QLabel*, 3> RowLabel{};            // "Rot:", "Grün:", "Blau:"
  QPushButton* Button1 = nullptr;                // "&Ok"
  QPushButton* Button2 = nullptr;                // "&Abbruch"
  QPushButton* Button3 = nullptr;                // "Reset"
  QToolButton* SpeedButton1 = nullptr;           // "Werte laden"
  QToolButton* SpeedButton2 = nullptr;           // "Werte speichern"
  QTimer* Timer1 = nullptr;
  QFileDialog* OpenDialog1 = nullptr;
  QFileDialog* SaveDialog1 = nullptr;
  // While clear, the timer's preview does nothing.
  bool Ready = false;

  void FormShow();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void SpeedButton1Click();
  void SpeedButton2Click();
  // The timer: the preview when ready.
  void SpinEdit1Change();
  // Reads a ".qzf" file into the fields and previews; a missing file changes
  // nothing, a bad one is refused with a message.
  void LoadFile(const QString& fileName);
  // Writes the fields to the file, its extension forced to ".qzf".
  void SaveFile(const QString& fileName);

  // The fields as a matrix, and the reverse.
  TColorMatrix FieldMatrix() const;
  void SetFields(const TColorMatrix& m);

protected:
  void closeEvent(QCloseEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  // Escape acts as "&Abbruch".
  void keyPressEvent(QKeyEvent* e) override;

private:
  void Preview();
  void EndOperation(bool keep);

  int source_ = -1;
  int destination_ = -1;
  bool running_ = false;
};

// The dialog (created on first use); nullptr before.
TForm18* ColorCorrectionDialog();
TForm18* EnsureColorCorrectionDialog();

// Whether the colour-correction dialog is shown.
extern bool ColorCorrectionActive;

}  // namespace astrelon
