#pragma once
// The batch window "Stapel Bearbeitung": the batch as translated step list, a
// step editor that shows one step at a time (its operation, up to four
// parameters, one option and the extra controls of some operations), the drop
// list of input files, batch files, and the start of a run. Its timer rewrites
// the batch text 100 ms after the last edit and drives a running batch. Created
// on first use, stays on top, hidden (not freed) by "&Abbruch".
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class QToolButton;

namespace astrelon {

class TRadioGroup;
class TqzDDButton;

constexpr int BatchWindowFormNumber = 7;

// What a browse button asks for.
enum class TBatchBrowse {
  Images,          // image files; several make the input list (file step)
  Image,           // one image file
  Mosaic,          // ".qcm" (the colour-mosaic dialog's open dialog)
  ColorCorrection, // ".qzf"
  Distortion,      // ".qzk"
  Resize,          // ".qzg"
  Histogram,       // ".qzh"
  Network,         // ".nnf", starting in the network folder
  Wavelet,         // ".wvl"
  FrequencyCurve,  // ".qfg"
  OpenBatch,       // ".qzb" to read
  SaveBatch,       // ".qzb" to write
  ShiftList,       // ".qvl" to read
};

class TForm7 : public QWidget {
public:
  TForm7();
  ~TForm7() override;

  QPlainTextEdit* Memo1 = nullptr;  // the untranslated batch text (hidden)
  QPlainTextEdit* Memo2 = nullptr;  // the translated batch text
  QLabel* Label1 = nullptr;         // "n. Bearbeitungsschritt"
  TqzDDButton* qzDDButton1 = nullptr;
  QMenu* PopupMenu2 = nullptr;
  std::array<QLabel*, 4> ParamLabel{};    // Label2 .. Label5
  std::array<QLineEdit*, 4> ParamEdit{};  // Edit1 .. Edit4
  QCheckBox* CheckBox1 = nullptr;  // the step's option
  QCheckBox* CheckBox2 = nullptr;  // "Kastenfunktion" / "Temparaturausgleich"
  QCheckBox* CheckBox3 = nullptr;  // "Alle Dateien im Ordner"
  QCheckBox* CheckBox4 = nullptr;  // "VListe"
  QCheckBox* CheckBox5 = nullptr;  // "nach Timestamp"
  QCheckBox* CheckBox6 = nullptr;  // "Maximum Werte (Proportion beibehalten)"
  TRadioGroup* RadioGroup1 = nullptr;  // "Anzahl Markierungen"
  TRadioGroup* RadioGroup2 = nullptr;  // "Funktion"
  TRadioGroup* RadioGroup3 = nullptr;  // "Verschiebungsfindung:"
  TRadioGroup* RadioGroup4 = nullptr;  // "Interpolation"
  QTabWidget* PageControl1 = nullptr;  // pages of the add-to-target step
  QLabel* Label7 = nullptr;            // caption of the comet fields
  QLineEdit* Edit5 = nullptr;          // comet X
  QLineEdit* Edit6 = nullptr;          // comet Y
  QLineEdit* Edit7 = nullptr;          // Bayer-special ".qcm"
  QLineEdit* Edit8 = nullptr;          // edge value, "% von weiß"
  QPushButton* Button5 = nullptr;      // "&Berechnen"
  QToolButton* SpeedButtonf = nullptr;
  QListWidget* ListBox1 = nullptr;     // the drop list
  QMenu* PopupMenu1 = nullptr;
  QToolButton* SpeedButton1 = nullptr;  // browse for the step's file
  QToolButton* SpeedButton3 = nullptr;  // browse for the target
  QPushButton* gButton1 = nullptr;      // factors <> pixel counts
  QToolButton* SButton1 = nullptr;      // previous step
  QToolButton* SButton2 = nullptr;      // next step
  QToolButton* OpenBtn = nullptr;
  QToolButton* SaveBtn = nullptr;
  QToolButton* SpeedButton4 = nullptr;  // "Neue Liste"
  QPushButton* Button3 = nullptr;       // "&Start"
  QPushButton* Button4 = nullptr;       // "&Abbruch"
  QTimer* Timer1 = nullptr;

  // The files a browse button gets (empty: cancelled), starting at `start`.
  // Runs the file dialogs; tests replace it.
  std::function<QStringList(TBatchBrowse kind, const QString& start)> ChooseFiles;
  // Reads and selects a shift list when "VListe" is ticked; the marks mode of
  // the list loaded (1..3), 0 when none was (the box is then unticked).
  std::function<int()> LoadShiftList;

  // The step editor.
  void SchrittAnzeigen();
  void ChooseOperation(int op, const QString& caption);  // an item of PopupMenu2
  void SButton1Click();
  void SButton2Click();
  void SpeedButton4Click();
  void gButton1Click();
  void RadioGroup1Click();
  void RadioGroup2Click();
  void RadioGroup3Click();
  void PageControl1Change();
  // Files.
  void SpeedButton1Click();
  void SpeedButton3Click();
  void SpeedButtonfClick();
  void AddInputFiles(const QStringList& files);  // dropped files
  void DeleteSelectedInputs();
  void Explorerstarten1Click();
  void AlleDateienlschen1Click();
  void OpenBtnClick();
  void SaveBtnClick();
  void CheckBox4Click();
  // Comet timing, the run.
  void CheckBox5Click();
  // The computed comet motion into the X and Y fields, the window to the front.
  void ShowCometValues();
  void Button3Click();  // "&Start"
  void Button5Click();  // "&Berechnen"
  void Timer1Timer();
  void StartBatchRun();

  // Writes the two line lists into the memos.
  void ShowBatchText();
  // Texts of every control from the caption table (translated when loaded).
  void TranslateTexts();

protected:
  void showEvent(QShowEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void BuildControls();
  // Each edit of the step editor ends here: the text is rewritten 100 ms after
  // the last one (at once while a run goes, whose timer is not touched).
  void Debounce();
  // The drop list changed: the batch's list follows it; an empty list is hidden
  // and no longer the input.
  void InputListChanged();
  // Shows the drop list as the run's input (the file step's boxes hidden).
  void UseInputList();
  // The file step's boxes for an AVI start file: hidden, with the skip option
  // and all-files mode off.
  void ShowFileStepBoxes(bool video);
  void SetPixelCountLabels(bool pixelCounts);
  void ShowCometCaption();
  QStringList Choose(TBatchBrowse kind, const QString& start);

  bool BatchEditorUpdating = false;
  bool firstShow_ = true;
  int shiftListMode_ = 0;
  QString saveName_;      // the batch file read or written last
  QString openProposal_;  // "*.qzb" in the folder of the image opened last
};

// The window when it was created; nullptr otherwise.
TForm7* BatchWindowForm();

}  // namespace astrelon
