#pragma once
// The dialog "Ausschneiden" of the fixed-size crop: the crop width and a height
// or aspect ratio; the frame shows as selection 1 in the image window and follows
// the user's clicks; "Ausschneiden" cuts exactly that size into a new window,
// padding with blanks what lies outside the image.
#include <QDialog>
#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;

namespace astrelon {

// The crop's state while the dialog lives (width and height text are settings).
struct TCropFrameState {
  int32_t Height = 480;     // derived from the height text, 1..32767
  int32_t CentreX = 0, CentreY = 0;
  int32_t Slot = 0;         // the image being cut
  bool Showing = false;
};
extern TCropFrameState CropFrame;

class TForm36 : public QDialog {
  Q_OBJECT
public:
  explicit TForm36(QWidget* parent = nullptr);

  QLineEdit* Edit1;      // "Bildbreite in Pixel:"
  QLineEdit* Edit2;      // "Bildhöhe in Pixel oder Seitenverhältnis:"
  QLabel* Label3;        // the height derived from a ratio, or why the height is refused
  QPushButton* Button1;  // "Ausschneiden"
  QPushButton* Button2;  // "Fenster schliessen"

  void FormShow();
  void Edit1Change();
  void Edit2Change();
  void Button1Click();
  // Derives the crop height from the height text; false when it is not valid.
  bool ParseCropHeight();
  // Places the frame in the image window and enables "Ausschneiden" when the height is valid.
  void UpdateCropFrame();

protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

private:
  bool widthValid_ = true;
};

// Opens the dialog for `slot` with the frame centred on (x, y).
void ShowCropFrameDialog(int slot, int32_t x, int32_t y);
// Makes the crop command open the dialog and the image windows move its frame.
void InstallCropFrameDialog();

}  // namespace astrelon
