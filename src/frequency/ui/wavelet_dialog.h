#pragma once
// The dialog "Wavelet Rauschfilter": noise thresholds and detail gains of four
// pyramid layers, an overall strength, the threshold hardness and "Bessere
// Berechnung". "&Berechnen" filters the selection (or the whole image) of the
// source into the result; afterwards a gain change rebuilds the result 200 ms
// after the last move without filtering again. "&Ok" keeps the result,
// "&Abbrechen" or closing discards it; settings load from and save to ".wvl".
#include <QString>
#include <QWidget>
#include <array>

#include "frequency/wavelet/wavelet_settings.h"
#include "store/image_store.h"

class QCheckBox;
class QFileDialog;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;
class QToolButton;

namespace astrelon {

class TRadioGroup;

class TForm23 : public QWidget {
  Q_OBJECT
public:
  TForm23();
  ~TForm23() override;

  // Edit1..Edit4 thresholds, Edit5..Edit8 gains, Edit9 "Gesamtstärke" (index 0..8).
  std::array<QLineEdit*, 9> Edits{};
  std::array<QSlider*, 9> TrackBars{};
  TRadioGroup* RadioGroup1 = nullptr;  // "Thresholdhärte": "1".."4"
  QCheckBox* CheckBox1 = nullptr;      // "Bessere Berechnung"
  QPushButton* Button1 = nullptr;      // "&Ok"
  QPushButton* Button2 = nullptr;      // "&Abbrechen"
  QPushButton* Button3 = nullptr;      // "&Berechnen" / "&Unterbrechen"
  QPushButton* Button4 = nullptr;      // "Werte zurücksetzen"
  QToolButton* SpeedButton1 = nullptr; // "Einstellungen laden"
  QToolButton* SpeedButton2 = nullptr; // "Einstellungen speichern"
  QTimer* Timer1 = nullptr;            // 200 ms after the last gain change
  QFileDialog* OpenDialog1 = nullptr;
  QFileDialog* SaveDialog1 = nullptr;

  void TrackBarChange(int index);
  void Timer1Timer();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void SpeedButton1Click();
  void SpeedButton2Click();
  // Reads a ".wvl" file into the controls; a refused file leaves them and shows why.
  bool LoadSettingsFile(const QString& fileName);
  // Writes the controls into the file, its extension made ".wvl".
  bool SaveSettingsFile(const QString& fileName);
  // The controls as a settings record, and back.
  TWaveletSettings CurrentSettings() const;
  void ShowSettings(const TWaveletSettings& s);

  // An image window's selection was drawn, moved or hidden: "&Berechnen" is enabled.
  void SelectionChanged();
  // The source and result while the dialog is shown ({-1, -1} otherwise).
  TSlotPair Pair() const;
  // The source's or result's colour model or channel selection changed.
  void PartnerSwitched();
  bool Computing() const { return computing_; }

protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

private:
  void FormShow();
  void FormHide();
  void EditChange(int index);
  void SetComputing(bool on);

  int source_ = -1;
  int destination_ = -1;
  bool shown_ = false;      // FormShow ran and FormHide has not yet
  bool discard_ = true;     // the result closes when the dialog hides
  bool computing_ = false;
  bool closePending_ = false;
  bool captionSet_ = false;
};

// The dialog while it exists (null otherwise).
TForm23* WaveletDialog();
// Registers the dialog as its form (WaveletFilterForm), and the image windows'
// selections and colour switches it follows.
void RegisterWaveletCommands();

}  // namespace astrelon
