#pragma once
// The dialog " Rauschen hinzufügen": distribution, low pass, strength and the
// brightness switch, recomputing the noisy copy as a live preview 100 ms after
// the last change. "&Ok" keeps the result; closing otherwise closes it.
#include <QWidget>
#include <optional>

#include "pixelops/pixels/synthetic_noise.h"
#include "store/image_store.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;

namespace astrelon {

class TRadioGroup;

class TForm28 : public QWidget {
  Q_OBJECT
public:
  TForm28();
  ~TForm28() override;

  // Takes the operation's source and result (its window shown), restores the
  // last settings without computing, shows the dialog and starts the timer.
  void Start(int source, int destination);

  TRadioGroup* RadioGroup3 = nullptr;  // "Verteilung": "Gauss", "Random"
  TRadioGroup* RadioGroup1 = nullptr;  // "Frequenz": "Konstant", "Tiefpass"
  QSlider* TrackBar2 = nullptr;        // strength, 0..100
  QLineEdit* Edit1 = nullptr;          // "Stärke (rms)"
  QCheckBox* CheckBox1 = nullptr;      // "Stärke der Bildhelligkeit anpassen"
  QTimer* Timer1 = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* AbbrechenButton = nullptr;

  void Timer1Timer();
  void OkClick();
  // The source and result while the operation runs ({-1, -1} otherwise).
  TSlotPair Pair() const;
  // The source's or result's colour model or channel selection changed: the
  // noisy copy is computed anew.
  void PartnerSwitched();
  // The settings the controls show; nullopt when the amount is not a number.
  std::optional<TNoiseSettings> ChosenSettings() const;

protected:
  void closeEvent(QCloseEvent* e) override;
  // Escape acts as "&Abbrechen".
  void keyPressEvent(QKeyEvent* e) override;

private:
  // A changed choice: computed at once, or after the running computation stops.
  void ComputeSoon();
  void Compute();
  void EndOperation(bool keep);

  int source_ = -1;
  int destination_ = -1;
  bool running_ = false;
  bool okPending_ = false;
};

// The dialog, made on first use.
TForm28* EnsureSyntheticNoiseDialog();
TForm28* SyntheticNoiseDialog();

}  // namespace astrelon
