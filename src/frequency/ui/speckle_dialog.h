#pragma once
// The speckle window (TForm32, form 32, "Interferom. Bildregistrierung"): the
// frames of a file list, a numbered series or a video, a preview on which the
// region is dragged, the vector and memory figures, and the accumulation of
// the frames' cross spectra or bispectra. Its numeric fields are kept in the
// packed parameter text between uses.
#include <QImage>
#include <QStringList>
#include <QWidget>
#include <optional>
#include <string>

#include "core/speckle_settings.h"
#include "frequency/speckle/speckle_reconstruction.h"
#include "frequency/speckle/speckle_session.h"
#include "platform/avi_reader.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QScrollArea;
class QSplitter;
class QToolButton;

namespace astrelon {

class TSpecklePreview;

constexpr int SpeckleForm = 32;

class TForm32 : public QWidget {
  Q_OBJECT
public:
  TForm32();
  ~TForm32() override;

  TSpeckleSession Session;
  TAviReader Video;
  bool VideoOpen = false;
  bool SeriesMode = false;
  bool AviMode = false;

  // Input: the first file of a series or a video, the frame range, the list.
  QLineEdit* Edit4;
  QToolButton* OpenBtn;
  QWidget* RangePanel;
  QLineEdit *Edit5, *Edit8, *Edit9;  // "Frames:", "bis:", "Step:"
  QWidget* Panel7;                   // video navigation
  QToolButton *AVItoBegin, *Button11, *Button12, *Button13, *Button14, *Button15;
  QLabel* Label31;                   // "#1": the frame shown
  QLabel* ListLabel;                 // "Oder Bildliste zur Registrierung:"
  QListWidget* ListBox1;
  QToolButton* Image2;               // removes the selected entries
  QMenu* PopupMenu1;                 // "Einträge löschen"
  QMenu* PopupMenu2;                 // "Eintrag löschen"
  // Preview and region.
  QSplitter* Splitter1;
  QWidget* Panel1;  // the controls on the left
  QScrollArea* PreviewBox;
  TSpecklePreview* Image1;
  QLabel *RegionLeft, *RegionTop, *RegionRight, *RegionBottom;
  // Accumulation.
  QLineEdit *Edit6, *Edit7;  // "Rand anpassen:", "Maximale Luftunruhe:"
  QComboBox* ComboBox1;
  QLabel *VectorCount, *FreeMemory, *UsedMemory, *NeededMemory, *StatusLabel;
  QPushButton* Button5;  // "Bilder registrieren"
  QCheckBox* CheckBox1;  // "KT"
  // Reconstruction.
  QCheckBox* CheckBox2;  // "-Rausch"
  QLineEdit *Edit10, *Edit2;  // "Max Radius:", "Max Schrittanzahl (0=Autokorr.):"
  QPushButton* Button4;  // "Spektrum neu berechnen"
  QLineEdit *Edit3, *Edit1;  // "Max Auflösung (Pixel):", "D/r0:"
  QPushButton* ButtonF;  // "Berechnen"
  QPushButton *Button2, *Button3;  // "Beenden", "Explorer öffnen"

  // Runs the open dialog and takes the chosen files.
  void OpenBtnClick();
  // Chosen files (the open dialog's result): one file sets series mode (a
  // video: AVI mode), several go into the list.
  void OpenFiles(const QStringList& names);
  // Dropped files: image files go into the list, sorted and without duplicates.
  void DropFiles(const QStringList& names);
  // Loads a file as the preview frame; false (preview unchanged) when it does not load.
  bool LoadPreviewFrame(const std::string& fileName);
  // Shows a video frame (clamped to the video) in the preview.
  void GoToVideoFrame(int64_t index);
  void HidePreview();
  // "Einträge löschen", removing the selected entries, "Eintrag löschen".
  void ClearList();
  void RemoveSelectedEntries();
  void ClearSeriesEntry();

  // The region in frame coordinates (the whole frame when none is drawn).
  TRectI Region() const;
  void UpdateRegionLabels();
  // The figures for the region, seeing and colour choice.
  void UpdateSpeckleMemory();

  // "Bilder registrieren": starts the accumulation, or interrupts a run.
  void Button1Click();
  bool Running() const { return running_; }
  // The reconstruction with the fields' settings (recompute after an
  // accumulation); false when a field is no number (nothing computed).
  bool Reconstruct(bool recompute);
  // "Spektrum neu berechnen": reconstructs again, or interrupts a reconstruction.
  void Button4Click();
  // "Berechnen": the response applied to the kept spectrum again and shown.
  void ButtonFClick();
  // The result image of the result spectrum: a new window, or the existing one updated.
  void ShowSpeckleResult(bool newResult);
  // "Explorer öffnen": the folder to open.
  std::string ExplorerFolder() const;

  // The numeric fields to and from the packed text.
  void ReadSettings(const TSpeckleSettings& s);
  TSpeckleSettings FieldSettings() const;

  // Called for each video frame read with its show flag while the window shows.
  void ShowVideoFrame(const TPicture& frame, int32_t index);

  // The window's size for the panel beside the whole preview picture (at most the screen).
  QSize PanelAndPreviewSize() const;
  // The splitter moved or the window was resized: the width follows the panel and the preview.
  void Splitter1Moved();

protected:
  void showEvent(class QShowEvent* e) override;
  void resizeEvent(class QResizeEvent* e) override;
  void hideEvent(class QHideEvent* e) override;
  void closeEvent(class QCloseEvent* e) override;
  void keyPressEvent(class QKeyEvent* e) override;
  void dragEnterEvent(class QDragEnterEvent* e) override;
  void dropEvent(class QDropEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void BuildControls();
  void ShowPanelsForMode();
  void ResizeToPreview();
  void SetPreview(const QImage& picture);
  void CloseVideo();
  void SetRunning(bool running);
  void SetReconstructing(bool running);
  std::optional<TSpeckleResponse> FieldResponse();
  void FinishHide();
  bool shownOnce_ = false;
  bool running_ = false;
  bool hidePending_ = false;
};

// Registers the window as form 32 and its menu item "KTBildRegistrierung1".
void RegisterSpeckleForm();

}  // namespace astrelon
