#pragma once
// The resize dialog "Bildgröße ändern": factors or pixel counts for both sides,
// the interpolation kind, anti-moiré and box reduction, ".qzg" files. "&OK"
// resamples a copy of the source image into a new window.
#include <QDialog>
#include <array>
#include <cstdint>

#include "pixelops/geometry/resize_settings_file.h"

class QButtonGroup;
class QCheckBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabBar;
class QToolButton;

namespace astrelon {

class TForm8 : public QDialog {
  Q_OBJECT
public:
  explicit TForm8(QWidget* parent = nullptr);

  QGroupBox* RadioGroup1;  // "Interpolation": item index = interpolation kind
  std::array<QRadioButton*, 5> RadioItems{};
  QButtonGroup* RadioButtons;
  QTabBar* TabControl1;  // 0 "Faktor", 1 "Pixelanzahl"
  QLabel* Label1;        // "Horizontal"
  QLabel* Label2;        // "Vertikal"
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QCheckBox* CheckBox1;  // keep the proportion
  QCheckBox* CheckBox2;  // "Anti Moiré"
  QCheckBox* CheckBox3;  // "Kasten Funktion (verkleinern)"
  QToolButton* OpenBtn;
  QToolButton* SaveBtn;
  QPushButton* Button1;  // "&OK"
  QPushButton* Button2;  // "&Abbrechen"
  QFileDialog* OpenDialog1;
  QFileDialog* SaveDialog1;

  // Dialog state: the source slot, the last pixel sizes and factors, and per
  // tab whether Edit1 (rather than Edit2) was edited last.
  int32_t SourceSlot = -1;
  std::array<int32_t, 2> PixelSizes{};
  std::array<double, 2> Factors{1.0, 1.0};
  std::array<bool, 2> Edit1Last{true, true};

  int ItemIndex() const;
  void SetItemIndex(int index);
  // Makes `slot` the source; a different image than before re-initialises the
  // remembered sizes and factors at the next showing.
  void SetSource(int slot);
  // The controls as settings, and the reverse as reading a ".qzg" file does.
  TResizeSettings CurrentSettings() const;

  // Handlers.
  void FormShow();
  void TabControl1Change();
  void Edit2Change(QLineEdit* edit);
  void CheckBox1Click();
  void CheckBox3Click();
  void Button1Click();
  void Button2Click();
  void OpenBtnClick();
  void SaveDialog1Close();
  // The file parts of the open and save buttons.
  bool LoadSettingsFile(const QString& fileName);
  bool SaveSettingsFile(const QString& fileName);

protected:
  void showEvent(QShowEvent* e) override;

private:
  void ApplyEnabling();
  void WriteEdit(QLineEdit* edit, const QString& text);
  void CoupleOtherEdit(bool fromEdit1);
  // Runs the resampling for OK; the result window on success.
  void RunResize(const TResizeRequest& request);

  bool attached_ = true;  // the edits' change handlers run
  bool reinitialise_ = true;
  std::array<int32_t, 3> reinitFor_{-1, 0, 0};  // slot, width, height the remembered values belong to
};

// The dialog (form 8), created on first use.
TForm8* ResizeDialog();

}  // namespace astrelon
