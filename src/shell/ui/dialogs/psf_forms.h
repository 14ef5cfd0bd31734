#pragma once
// The two windows of the locked star: "PSF Bestimmung" (form 34: the photometry
// settings and the plot of the star's profile with its fitted curve) and
// "PSF Infos" (form 35: a table collecting the results of measured stars).
#include <QDialog>
#include <QImage>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace astrelon {

class TForm34 : public QDialog {
  Q_OBJECT
public:
  explicit TForm34(QWidget* parent = nullptr);
  QLabel* Label1;
  QLabel* Label2;
  QSpinBox* SpinEdit1;  // "Hintergrund"
  QSpinBox* SpinEdit2;  // "Überbelichtung"
  QLabel* Image1;
  QPushButton* Button1;
  QImage Plot;  // the profile plot, 201 x 121

protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
};

class TForm35 : public QDialog {
  Q_OBJECT
public:
  explicit TForm35(QWidget* parent = nullptr);
  QTableWidget* StringGrid1;
  QCheckBox* CheckBox1;
  QPushButton* Button1;
  // Delete and Ctrl+C on the grid; every other key goes to the star keys.
  void StringGrid1KeyDown(int key, Qt::KeyboardModifiers mods, const QString& text);
  // Whole-row selection from a click in column 0, column selection from a header click.
  void StringGrid1MouseDown(int row, int column);
  bool WholeRows = false;

protected:
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  bool shown_ = false;
};

// Re-analyses the locked star, redraws its panel picture and, while form 34 is
// shown, its plot.
void PSFProfilZeichnen();
// Appends the locked star's result texts to the "PSF Infos" table (shown when hidden).
void AddPsfResultToTable();
// Opens "PSF Bestimmung" (a click on the star frame while a star is locked).
void ShowPsfSettings();
// Registers forms 34 and 35 with the dialog-form registry.
void RegisterPsfForms();

}  // namespace astrelon
