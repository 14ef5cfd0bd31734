#pragma once
// The text tool's dialog "Text einfügen": the text, its options (smooth,
// shadow, 3D, transparency with its percent) and a chart of the 256 character
// codes whose cells insert their character at the caret.
#include <QDialog>

class QCheckBox;
class QFrame;
class QLineEdit;
class QPushButton;

namespace astrelon {

class TForm21 : public QDialog {
  Q_OBJECT
public:
  TForm21();

  QLineEdit* Edit1 = nullptr;     // the text
  QCheckBox* CheckBox1 = nullptr; // "Text abgerundet"
  QCheckBox* CheckBox2 = nullptr; // "Schatten"
  QCheckBox* CheckBox3 = nullptr; // "3D Effekt"
  QCheckBox* CheckBox4 = nullptr; // "Transparenz"
  QLineEdit* Edit2 = nullptr;     // transparency percent
  QFrame* Bevel1 = nullptr;       // the divider above the chart
  QFrame* Shape1 = nullptr;       // red frame on the cell under the mouse
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;

  // Set on showing, cleared by "Ok".
  bool Cancelled = true;

  // Chart geometry: cell size at the screen's resolution and the chart's top.
  int CellWidth() const;
  int CellHeight() const;
  int ChartTop() const;
  // The character code of the cell under a point of the form (-1 outside the chart).
  int CodeAt(QPoint p) const;
  // Inserts the character of a code (Windows-1252) at the caret.
  void InsertCode(int code);

protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;

private:
  void Arrange();
};

// Form 21 (nullptr before its first use).
TForm21* TextInsertDialog();
// Registers form 21 with the dialog-form registry.
void RegisterTextInsertDialog();

// Gives the dialog's edit the text tool's font at 15 points and fits it above
// the chart; form 21 must exist.
void LayoutTextInsertEdit();

}  // namespace astrelon
