#pragma once
// The network training panel ("Panel2") at the bottom of the main window,
// shown only while a network is trained: the learning rate with its up/down
// control, the neurons in use, the phase buttons, the check boxes that steer
// the samples and the evaluation, the automatic phase switching with its
// threshold, and "&Unterbrechen (ESC)". It is the training loop's view.
#include <QFrame>

#include "filters/training/training_loop.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace astrelon {

class TUpDown;

class TTrainingPanel : public QFrame, public TTrainingView {
  Q_OBJECT
public:
  explicit TTrainingPanel(QWidget* parent = nullptr);

  QLabel* Label9 = nullptr;   // "Netzwerk Training:"
  QLabel* Label10 = nullptr;  // "Trainingsstärke:"
  QLabel* RateLabel = nullptr;
  TUpDown* UpDown1 = nullptr;
  QLabel* Label11 = nullptr;              // "Aktuelle Neuronenanzahl:"
  QLabel* Label14 = nullptr;              // the neurons in use " (von " allocated ")"
  QPushButton* SpeedButton5nn = nullptr;  // "Phase1"
  QPushButton* SpeedButton7 = nullptr;    // "Phase2"
  QPushButton* SpeedButton8 = nullptr;    // "Phase3"
  QCheckBox* CheckBox1 = nullptr;         // "Bild gut berechnen (verlangsamt das Training)"
  QCheckBox* CheckBox3 = nullptr;         // "Gedrehte,"
  QCheckBox* CheckBox4 = nullptr;         // "gespiegelte"
  QLabel* Label16 = nullptr;              // " Versionen des Bildes mit trainieren."
  QCheckBox* CheckBox2 = nullptr;         // "Autom. Phasen Weiterschaltung"
  QLabel* ThresholdLabel = nullptr;
  TUpDown* UpDown2 = nullptr;
  QPushButton* Button1 = nullptr;  // "&Unterbrechen (ESC)"

  // The rate, the neurons in use and the phase buttons from the network.
  void ShowState() override;
  void ProcessEvents() override;
  void ShowProgress(int slot, int percent) override;
  void Redraw(int slot) override;
  void ShowError(const std::string& text) override;

protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void PhaseClicked(int phase);
};

// The panel of the main window (made on first use; nullptr without a main window).
TTrainingPanel* TrainingPanel();

// Clears the abort flag, disables the network menus and shows the panel for a
// network of n + 1 neurons with current + 1 in use and inputs 0..N: the turn
// check boxes usable only with N >= 4, "Phase2" and "Phase3" only at full size,
// "Phase3" shown only for networks with a second layer (type codes below 10).
// A network without one is taken from phase 3 to 2, one not at full size to
// phase 1; 1 base step per evaluation in phase 1, 2 otherwise.
void ShowTrainingPanel(int32_t current, int32_t n, int32_t N);
// Hides the panel and enables the network menus.
void HideTrainingPanel();
// current + 1, " (von ", n + 1 and ")" in the neuron count.
void ShowNeuronCount(int32_t current, int32_t n);

}  // namespace astrelon
