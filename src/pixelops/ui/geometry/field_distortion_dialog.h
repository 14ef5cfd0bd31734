#pragma once
// The dialog "Bildfeld Entzerrung": the field-distortion correction of a source
// image into its result window with a live preview, on three pages
// ("Kissenentzerrung", "Planet", "Panorama"), with ".qzk" files. "&Ok" keeps the
// result, "&Abbruch" closes it.
#include <QDialog>
#include <array>

#include "pixelops/geometry/field_distortion_settings.h"

class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class QToolButton;

namespace astrelon {

class TUpDown;

class TForm19 : public QDialog {
  Q_OBJECT
public:
  explicit TForm19(QWidget* parent = nullptr);
  ~TForm19() override;

  // Page 0 "Kissenentzerrung", 1 "Planet", 2 "Panorama".
  QTabWidget* PageControl1;
  // Edit1..Edit4 A..D, Edit5/Edit6 the centre, Edit7/Edit8/Edit12 the planet's
  // width, factor and limb contrast, Edit9..Edit11 the panorama's width, factor
  // and horizon; Edit[k - 1] is Editk, UpDown[k - 1] its arrows.
  std::array<QLineEdit*, 12> Edit{};
  std::array<TUpDown*, 12> UpDown{};
  QCheckBox* CheckBox2;  // "Nur horizontal"
  QTimer* Timer1;        // 500 ms after the last change
  QToolButton* SpeedButton1;
  QToolButton* SpeedButton2;
  QFileDialog* OpenDialog1;
  QFileDialog* SaveDialog1;
  QPushButton* Button1;  // "&Ok"
  QPushButton* Button2;  // "&Abbruch"

  // The source and the result the dialog works on.
  void SetSlots(int source, int destination);
  int Source() const { return source_; }
  int Destination() const { return destination_; }
  // The edit whose text is no number at the last preview (nullptr: none).
  QLineEdit* MarkedEdit() const { return marked_; }

  // Handlers.
  void FormShow();
  void Edit1Change();
  void Timer1Timer();
  void UpDownClick(int k, bool up);
  void PageControl1Change();
  void SpeedButton1Click();
  void SpeedButton2Click();
  void Button1Click();
  void Button2Click();
  // The file parts of the open and save buttons.
  bool LoadSettingsFile(const QString& fileName);
  bool SaveSettingsFile(const QString& fileName);
  // Computes the result from the controls and re-renders it; a change while it
  // runs computes it once more afterwards.
  void Preview();
  // The settings the controls show, and the reverse.
  TDistortionSettings ControlSettings() const;
  void ShowSettings(const TDistortionSettings& s);

protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  // Escape acts as "&Abbruch".
  void reject() override;

private:
  void ComputePreview();
  void Mark(QLineEdit* edit);
  void Finish(bool keep);
  void RunPendingButton();

  int source_ = -1, destination_ = -1;
  bool loading_ = false;     // a file is being read: no preview
  bool previewing_ = false;  // a preview runs (events are processed inside it)
  bool previewAgain_ = false;
  int pendingButton_ = 0;    // 1 "&Ok", 2 "&Abbruch" clicked during a preview
  QLineEdit* marked_ = nullptr;
};

// The dialog (form 19), created on first use.
TForm19* FieldDistortionDialog();

}  // namespace astrelon
