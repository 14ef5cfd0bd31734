#pragma once
// The masked flattening dialog ("Hintergrund ebnen variabel" without a
// selection): a preview of the result image on which the user paints areas
// that must not be flattened (left button; the right button erases a region)
// or marks bright areas by a slider, a radius slider, and "&Berechnen", which
// flattens the rest with the painted mask and fills the masked areas from the
// interpolated background. Modeless; it works on the source and result slots
// it finds in the slot pair when shown and closes the result when cancelled.
#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <vector>

#include "pixelops/ui/flattening/background_mask_painting.h"
#include "store/image_store.h"

class QLabel;
class QPushButton;
class QSizeGrip;
class QSlider;
class QTimer;
class QToolButton;

namespace astrelon {

class TMaskPreview;

class TForm12 : public QWidget {
public:
  TForm12();
  ~TForm12() override;

  // FormShow with the menu item's caption, then the window is shown.
  void Open(const QString& caption);

  // The event handlers (public for the menu command and the tests).
  void Image5MouseDown(QPoint pos, Qt::MouseButton button);
  void Image5MouseMove(QPoint pos);
  void Image5MouseUp(Qt::MouseButton button);
  void Timer1Timer();
  void Timer2Timer();
  void SpeedButton1Click();  // "Alle löschen"
  void Button1Click();       // "&Abbrechen"
  void Button2Click();       // "&Ok"
  void Button3Click();       // "&Berechnen" / "&Unterbrechen"

  const TByteMask& Mask() const { return mask_; }
  const TBrightLevels& BrightLevels() const { return levels_; }
  int Source() const { return source_; }
  int Destination() const { return destination_; }
  // The source and result while the dialog is open ({-1, -1} otherwise).
  TSlotPair Pair() const;
  // The source's or result's colour model or channel selection changed: the
  // bright-area levels and the preview are made anew and "&Berechnen" enabled.
  void PartnerSwitched();
  bool Computing() const { return computing_; }
  int RadiusComputed() const { return radiusComputed_; }
  // The preview's picture: the result image stretched with the mask over it.
  const QImage& PreviewBase() const { return base_; }
  const QImage& PreviewOverlay() const { return overlay_; }
  double ScaleX() const { return scaleX_; }
  double ScaleY() const { return scaleY_; }

  QSlider* TrackBar1 = nullptr;  // radius 1..50
  QSlider* TrackBar2 = nullptr;  // bright-area entry 0..98
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;
  TMaskPreview* Image5 = nullptr;

protected:
  void closeEvent(QCloseEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

private:
  friend class TMaskPreview;
  void FormHide();
  void UpdateScale();
  void RebuildBase();
  void RebuildOverlay();
  void Redraw();
  QPoint ImagePoint(QPoint pos) const;

  QLabel* Label1 = nullptr;
  QLabel* Label5 = nullptr;
  QSizeGrip* Image3 = nullptr;

  int source_ = -1;
  int destination_ = -1;
  bool shown_ = false;
  bool cancelled_ = true;
  bool done_ = true;
  bool computing_ = false;
  bool closePending_ = false;
  bool firstShow_ = true;
  int radiusComputed_ = 0;
  double scaleX_ = 1, scaleY_ = 1;
  TByteMask mask_;
  std::vector<TMaskPoint> stroke_;
  std::vector<QPoint> strokeOnPreview_;
  TMaskPoint last_;
  bool painting_ = false;
  TBrightLevels levels_{};
  int brightEntry_ = 0;
  QImage base_;
  QImage overlay_;
};

// The dialog when it is open, else nullptr.
TForm12* BackgroundMaskDialog();

// "Hintergrund ebnen variabel" without a selection: the active image's range
// brought up to date, a result slot made and shown, then the dialog over it.
// Nothing happens without an active image or a free slot, or while the dialog
// is already open (it is raised).
void OpenBackgroundMaskDialog(const QString& caption);

}  // namespace astrelon
