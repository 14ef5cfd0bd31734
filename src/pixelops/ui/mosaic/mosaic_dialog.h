#pragma once
// The "Farb-CCD zu RGB" dialog: edits the live colour-mosaic settings
// (MosaicSettings), loads and saves them as ".qcm" files, converts the source
// image into a new RGB window and offers the raw correction in place ("!").
// Shown without blocking the other windows.
#include <QDialog>
#include <array>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace astrelon {

constexpr int MosaicDialogForm = 13;

class TForm13 : public QDialog {
  Q_OBJECT
public:
  explicit TForm13(QWidget* parent = nullptr);
  ~TForm13() override;

  // The image the dialog converts.
  void SetSource(int slot) { source_ = slot; }
  int Source() const { return source_; }
  int LastResult() const { return lastResult_; }
  // Shows or hides "Kamera Farbprofil".
  void SetCameraProfileVisible(bool visible);
  bool CameraProfileVisible() const;

  // Fills the controls from MosaicSettings.
  void ShowSettings();
  // Enables "&Generier Bild" by the settings.
  void UpdateMosaicGenerateButton();
  // The open dialog of the settings files (".qcm"), starting at the file last
  // opened or saved; the chosen file (empty when cancelled), which it remembers.
  // The raw-layout editor chooses its layouts' pattern files with it too.
  QString ChooseSettingsFile(QWidget* parent);
  // "Einstellungen öffnen" and "Einstellungen speichern" with a chosen file.
  bool OpenSettings(const QString& fileName);
  bool SaveSettings(const QString& fileName);

  void Button1Click();  // "&Generier Bild"
  void Button2Click();  // "&Fenster zu"
  void Button5Click();  // "!": raw correction in place

  std::array<QComboBox*, 8> Cells{};  // ComboBox1 .. ComboBox8
  QComboBox* ComboBox9 = nullptr;     // method
  QCheckBox* CheckBox1 = nullptr;     // "Noch weitere 2 Reihen:"
  QCheckBox* CheckBox2 = nullptr;     // "pixFilter"
  QCheckBox* CheckBox3 = nullptr;     // "  Highlights errechnen"
  QCheckBox* CheckBox4 = nullptr;     // "Kamera Farbprofil"
  std::array<QLineEdit*, 7> Edits{};  // Edit1 .. Edit7: Rmul, Bmul, Bias, red and blue ratio, G1mul, network
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;  // "v"
  QPushButton* Button4 = nullptr;  // ">"
  QPushButton* Button5 = nullptr;  // "!"
  QToolButton* OpenBtn = nullptr;
  QToolButton* SaveBtn = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  // The open dialog of ".qcm" files, also run by the batch window and the
  // editor of the own RAW layouts.
  QFileDialog* OpenDialog1 = nullptr;

protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void reject() override;

private:
  // Copies the controls into MosaicSettings.
  void TakeControls();
  // Applies a change of the settings and shows the result.
  template <typename F>
  void Change(F&& change);
  void EnableControls();

  int source_ = -1;
  int lastResult_ = -1;
  bool generating_ = false;  // "&Generier Bild" is converting
  bool updating_ = false;
  QLabel* networkLabel_ = nullptr;
  QString openName_, saveName_;
};

// The dialog, created on first use.
TForm13* MosaicDialog();

}  // namespace astrelon
