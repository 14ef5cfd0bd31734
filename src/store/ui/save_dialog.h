#pragma once
// The save dialog of Save As: a file dialog with a strip of extra controls under
// the standard ones. FITS and TIFF offer the sample type (and, for TIFF,
// compression); JPEG offers the quality and shows the file size the image would
// have at it, or finds the quality for a size typed in.
#include <QFileDialog>
#include <array>
#include <cstdint>
#include <string>

#include "store/display/display_bitmap.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class QWidget;

namespace astrelon {

class TJSaveDialog : public QFileDialog {
  Q_OBJECT
public:
  explicit TJSaveDialog(QWidget* parent = nullptr);

  // Sets the dialog up for a Save As of `slot`: its file name, the filter list
  // and the filter of the name's extension, the type lists from the settings,
  // the label texts, and an empty size cache.
  void Prepare(int slot);
  // Filter index 1 FITS, 2 BMP, 3 JPEG, 4 TIFF, 5 PNG.
  int FilterIndex() const;
  void SetFilterIndex(int index);
  // The text of the file-name field.
  QString FileNameText() const;

  // Shows the strip that fits the filter.
  void UpdatePanels();
  // The user picked another file type: the name gets the type's extension.
  void TypeChange();
  // One second after the last edit of a JPEG field: the size at the typed
  // quality, or the quality for the typed size.
  void SizeTimerFired();
  // Size in KB of the slot's picture encoded as JPEG at a quality (cached).
  int32_t JpegSize(int quality);

  QWidget* ClientPanel = nullptr;   // JPEG controls
  QWidget* ClientPanel2 = nullptr;  // FITS/TIFF controls
  QLineEdit* JPEGcompression = nullptr;
  QLineEdit* JPEGfilesize = nullptr;
  QLabel* Lquality = nullptr;
  QLabel* Lfilesize = nullptr;
  QTimer* SizeTimer = nullptr;
  QComboBox* CBfiletype = nullptr;
  QCheckBox* CBcompression = nullptr;

  int LastEdited = 1;  // 1 the quality, 2 the size was changed last
  int Slot = 0;
  int FitsTypeIndex = 0;
  int TiffTypeIndex = 0;
  bool TiffCompressed = false;
  bool TimerArmed = true;
  // KB at each quality 0..101; -1 not yet known.
  std::array<int32_t, 102> JpegSizeCache{};

public slots:
  // A size estimate still waiting for its timer is made before the dialog closes,
  // so that the quality typed last is the one saved.
  void accept() override;

protected:
  void showEvent(QShowEvent* e) override;

private:
  void EditChange(int which);
  void FileTypeChange(int entry);
  void SetFields(const QString& quality, const QString* size);

  TDisplayBitmap bitmap_;  // the slot's picture at full size, made on first need
  bool bitmapReady_ = false;
};

// The program's one save dialog (created on first use).
TJSaveDialog& JSaveDialog(QWidget* parent);

}  // namespace astrelon
