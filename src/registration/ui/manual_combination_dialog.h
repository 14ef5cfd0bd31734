#pragma once
// The manual combination dialog (TForm27, form 27, " Bild kombinieren
// manuell"): a second image added to or subtracted from a first one with a
// hand-set shift and weight, or the first image shifted alone, under a live
// full-resolution preview.
#include <QImage>
#include <QWidget>
#include <cstdint>

#include "registration/ui/manual_combination_start.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSizeGrip;
class QToolButton;

namespace astrelon {

// The spin rules: the weight in percent moves by 1 below 5, 2 below 14, 3
// below 30, 5 up to 150 and w div 30 above, within 0 .. 10000; a sub-pixel
// field moves by 0.1 within -1 .. 1.
int32_t StepCombineWeight(int32_t weight, bool up);
double StepSubPixel(double value, bool up);

// What the preview and "Ok" read from the fields.
struct TManualCombineSettings {
  double H = 0, V = 0;  // shifts (whole plus sub-pixel)
  bool SubPixel = false;
  double Weight = 1;    // 0.01 x the percentage
  int Mode = 0;         // 0 add, 1 subtract, 2 shift the first image
  bool Contrast = false;
};

// The preview of a width x height cutout: screen pixel (c, r) shows the first
// image's pixel (c - offsetX, r + offsetY), black outside it.
QImage RenderCombinePreview(int first, int second, const TManualCombineSettings& s, int32_t offsetX, int32_t offsetY,
                            int32_t width, int32_t height);

class TCombinePreview : public QWidget {
public:
  explicit TCombinePreview(QWidget* parent) : QWidget(parent) {}
  QImage Picture;
  QPoint DragOffset;  // where a left drag shows the picture meanwhile

protected:
  void paintEvent(class QPaintEvent* e) override;
};

class TForm27 : public QWidget {
  Q_OBJECT
public:
  explicit TForm27(QWidget* parent = nullptr);

  QLineEdit *Edit1, *Edit2, *Edit3, *Edit4, *Edit5;
  QToolButton* UpDown[5][2];  // [field][0 down, 1 up]
  QRadioButton* RadioGroup1[3];  // "addieren", "subtrahieren", "verschieben"
  QCheckBox* CheckBox1;
  QPushButton *Button1, *Button2, *Button3;
  QLabel* Panel2;
  TCombinePreview* Image1;
  QSizeGrip* Image2;

  int First = -1, Second = -1;
  int32_t OffsetX = 0, OffsetY = 0;
  bool RedrawEnabled = true;

  void UpDownClick(int field, bool up);  // field 1..5
  TManualCombineSettings Settings() const;
  void Draw();
  // Makes the result; the result slot, or -1 when none was made.
  int Button1Click();
  void Button3Click();
  // Ends a drag on the preview: the left button scrolls, the right one shifts.
  void PreviewDragged(QPoint delta, bool right);

protected:
  void showEvent(class QShowEvent* e) override;
  void hideEvent(class QHideEvent* e) override;
  // Escape acts as "Abbruch".
  void keyPressEvent(class QKeyEvent* e) override;
  void resizeEvent(class QResizeEvent* e) override;
  bool eventFilter(QObject* o, QEvent* e) override;

private:
  QPoint downAt_;
  Qt::MouseButton dragButton_ = Qt::NoButton;
};

// The dialog (created when needed) given both slots, shown.
TForm27* ShowManualCombination(int first, int second);
// Redraws the dialog's preview when it exists and is shown.
void DrawCombinePreview();
// Registers the dialog as form 27, its start (the menu command's slots) and its
// preview with the histogram window.
void RegisterManualCombinationForm();

}  // namespace astrelon
