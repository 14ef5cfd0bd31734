#pragma once
// The deconvolution dialog (TForm22, form 22, "Deconvolution"): the PSF
// designed on a 64 × 64 grid or taken from an open image, "&Berechnen" to
// deconvolve the source into the destination window, "Stärke" to blend the
// correction between linear and quadratic, "&Ok" to keep it.
#include <QWidget>
#include <atomic>
#include <optional>

#include "frequency/deconvolution/psf_brushes.h"
#include "frequency/deconvolution/psf_designer.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QSlider;
class QTimer;
class QToolButton;

namespace astrelon {

class TPsfViewWidget;

class TForm22 : public QWidget {
  Q_OBJECT
public:
  TForm22();
  ~TForm22() override;

  // Controls, named as the handlers know them.
  QSlider* TrackBar5 = nullptr;  // "Bildrauschen:"
  QLabel* Label6 = nullptr;      // the noise factor
  QSlider* TrackBar2 = nullptr;  // PSF1 shape
  QLineEdit* Edit2 = nullptr;    // "Radius1"
  QSlider* TrackBar6 = nullptr;
  QSlider* TrackBar3 = nullptr;  // PSF2 shape
  QLineEdit* Edit3 = nullptr;    // "Radius2"
  QSlider* TrackBar4 = nullptr;
  QLineEdit* Edit1 = nullptr;    // "Y/X"
  QSlider* TrackBar1 = nullptr;
  QLineEdit* Edit4 = nullptr;    // PSF2 weight
  QSlider* TrackBar7 = nullptr;
  QToolButton* SpeedButton8 = nullptr;   // "+"
  QToolButton* SpeedButton9 = nullptr;   // "-"
  QToolButton* SpeedButton10 = nullptr;  // "*"
  QToolButton* SpeedButton4 = nullptr;   // "Zeichnen"
  QToolButton* SpeedButton1 = nullptr;   // "Glätten"
  QToolButton* SpeedButton2 = nullptr;   // " -w"
  QToolButton* SpeedButton3 = nullptr;   // zoom " x1" / " x2" / " x4"
  QScrollBar* ScrollBar1 = nullptr;      // horizontal
  QScrollBar* ScrollBar2 = nullptr;      // vertical
  QToolButton* SpeedButton6 = nullptr;   // "PSF-Bild ^"
  QToolButton* SpeedButton7 = nullptr;   // "v Auswahl"
  QComboBox* ComboBox2 = nullptr;        // open images
  QPushButton* Button4 = nullptr;        // "Bild einfügen -->"
  QToolButton* SpeedButton5 = nullptr;   // "Ein Bild aus der PSF machen"
  QSlider* TrackBar8 = nullptr;          // "Stärke"
  TPsfViewWidget* Image3 = nullptr;
  QPushButton* Button3 = nullptr;  // "&Berechnen"
  QPushButton* Button2 = nullptr;  // "&Ok"
  QPushButton* Button1 = nullptr;  // "&Abbrechen"
  QTimer* Timer1 = nullptr;

  // The handlers.
  void Button3Click();
  void Button2Click();
  void Button1Click();
  void Timer1Timer();
  void Button4Click();
  // "Ein Bild aus der PSF machen": the new image's slot, or −1.
  int SpeedButton5Click();
  // A right click on " -w": the clamp of negative cells on or off.
  void SpeedButton2RightClick();
  void BuildDesignerPsf(int which);
  void CombineDesignerPsf(bool recombine);
  // The open images other than the source and the destination; a single one is selected.
  void FillPsfImageList();
  int FindPsfImageSlot(int index) const;
  // The PSF image chosen in the list (the list refreshed when none is), or −1
  // after a message that says what to choose.
  int ChosenPsfImage();

  // State the tests read.
  const TPsfDesigner& Designer() const { return designer_; }
  TPsfDesigner& Designer() { return designer_; }
  double Noise() const;
  bool ClampNegative() const { return clampNegative_; }
  int Zoom() const { return zoom_; }
  int Source() const { return source_; }
  int Destination() const { return destination_; }
  int DifferenceSlot() const { return difference_; }
  int DesignedPsfSlot() const { return designedPsfSlot_; }
  bool Computing() const { return computing_; }

protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  // Escape acts as "&Abbrechen".
  void keyPressEvent(QKeyEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  enum class TPending { None, Ok, Abbrechen };

  void BuildControls();
  void ConnectControls();
  void FormShow();
  void FormHide();
  void SetDefaults();
  void RadiusEdited(int which);
  void AspectEdited();
  void WeightEdited();
  void StrengthMoved();
  void ViewPressed(int px, int py, Qt::MouseButton button);
  void ViewMoved(int px, int py, Qt::MouseButtons buttons);
  void BrushAt(int px, int py);
  void DrawView();
  void ZoomClick();
  bool DesignerIsSource() const;
  std::optional<double> Field(const QLineEdit* edit) const;
  // Mixes at the slider's position; false when stopped.
  bool Mix();
  void FreeDesignedPsfSlot();
  void FreeDifferenceSlot();
  void RunPending();
  template <class F>
  void Guarded(F&& f);

  TPsfDesigner designer_;
  bool clampNegative_ = true;
  int zoom_ = 1;
  int source_ = -1, destination_ = -1;
  int designedPsfSlot_ = -1, difference_ = -1;
  bool shown_ = false, defaultsSet_ = false, closeDestination_ = false;
  bool computing_ = false;
  bool mixing_ = false;
  std::atomic<bool> stopMixing_{false};
  int mixChanges_ = 0;
  TPending pending_ = TPending::None;
  int lastBrushCell_ = -1;
};

// The dialog while it exists (null otherwise).
TForm22* DeconvolutionDialog();
// Registers the dialog as form 22: the menu command "&Entfalten (Deconvolution)" shows it.
void RegisterDeconvolutionForm();

}  // namespace astrelon
