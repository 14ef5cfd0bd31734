#pragma once
// The dialog of the 1D and 2D frequency filters: the mean amplitude spectrum
// of the image as a curve in dB, a response curve drawn over it with the mouse
// or shaped by a parametric equaliser, "&Berechnen" to apply the ratio of the
// two to the result image, and curve files to keep a response. It is shown
// without waiting; closing it ends the operation.
#include <QWidget>
#include <string>

#include "frequency/filter/filter_drawing.h"
#include "frequency/filter/filter_equaliser.h"
#include "frequency/filter/frequency_filter.h"
#include "store/image_store.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QSizeGrip;
class QSlider;
class QToolButton;

namespace astrelon {

class TFilterGraph;
class TFilterKnob;
class TRadioGroup;

class TForm6 : public QWidget {
  Q_OBJECT
public:
  TForm6();
  ~TForm6() override;

  // Takes the operation's source and result (its window shown) and the mode,
  // then shows the dialog: caption, equaliser reset, the spectrum of the result
  // and its graph. False (nothing shown) when the spectrum cannot be made.
  bool Start(int source, int result, bool twoD);

  QScrollArea* ScrollBox1 = nullptr;
  TFilterGraph* Image1 = nullptr;  // the graph
  QSizeGrip* Image2 = nullptr;     // corner grip
  QPushButton* BerechnenButton = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* AbbrechenButton = nullptr;
  QPushButton* ResetButton = nullptr;
  QToolButton* OpenBtn = nullptr;
  QToolButton* SaveBtn = nullptr;
  TRadioGroup* MouseGroup = nullptr;     // "Linke Maustaste": "Linie", "Punkt"
  TRadioGroup* LinesGroup = nullptr;     // "Berechnung": "Horizontal", "Hor.+Vert." (1D)
  TRadioGroup* FunctionGroup = nullptr;  // "Funktion": "Multipl.", "Additiv" (1D)
  QCheckBox* OmitBrightBox = nullptr;    // "Helle Bereiche auslassen" (1D)
  QSlider* TrackBar1 = nullptr;
  QLabel* BrushLabel = nullptr;  // "40% Punktbreite"
  QCheckBox* EqBox = nullptr;    // "EQ:"
  QLineEdit* FrequencyEdit = nullptr;
  QLineEdit* ValueEdit = nullptr;
  QLineEdit* QualityEdit = nullptr;
  QLabel* ValueLabel = nullptr;  // "dB/Oktave" or "Amplitude"
  TFilterKnob* FrequencyKnob = nullptr;
  TFilterKnob* ValueKnob = nullptr;
  TFilterKnob* QualityKnob = nullptr;
  TRadioGroup* PassGroup = nullptr;  // "Pass:": "Band", "Tief", "invTief"
  QPushButton* UebernehmenButton = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* Range120 = nullptr;
  QAction* Range240 = nullptr;
  QAction* WidthMaximal = nullptr;
  QAction* WidthScaled = nullptr;
  QAction* KeepShape = nullptr;
  QAction* IgnoreShape = nullptr;
  QAction* GraphToImage = nullptr;

  // The handlers.
  void BerechnenClick();
  void OkClick();
  void AbbrechenClick();
  void ResetClick();
  void UebernehmenClick();
  void OpenBtnClick();
  void SaveBtnClick();
  // Reads a curve file into the response (nothing for a missing file; a message for a refused one).
  void OpenCurveFile(const std::string& fileName);
  // Writes the response's gains (extension ".qfg").
  bool SaveCurveFile(const std::string& fileName);
  // "Bild von der Grafik machen": the graph as a new image window; its slot or −1.
  int MakeGraphImage();
  // The source and result while the operation runs ({-1, -1} otherwise).
  TSlotPair Pair() const;
  // The source's or the result's colour model or channel selection changed (the
  // other image already follows it): the result takes the source's planes again
  // and the spectrum of the selected planes and its graph are made anew.
  void PartnerSwitched();
  // A window of the operation closed: the dialog ends without touching the result.
  void PartnerClosed(int slot);
  // The mouse on the graph, in graph pixels.
  void GraphPressed(QPoint at, Qt::MouseButton button);
  void GraphMoved(QPoint at, Qt::MouseButtons buttons);
  void GraphReleased(QPoint at, Qt::MouseButton button);
  void GraphWheel(int steps);
  // Redraws the graph from the curves (no spectrum is computed).
  void DrawFilterGraph();

  TFrequencyFilter& Filter() { return filter_; }
  int Source() const { return source_; }
  int Result() const { return result_; }
  // The graph's scale and its bins per pixel.
  TGraphScale GraphScale() const;
  double BinsPerPixel() const;
  int GraphWidth() const;

protected:
  void closeEvent(QCloseEvent* e) override;
  // Escape acts as "&Abbrechen".
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void BuildControls();
  bool ComputeFilterSpectrum(int slot);
  void CurveEdited();
  void ApplyEqualiser();
  void ReadEqualiserFields();
  void PassChosen(int index);
  void KnobTurned(int field, int pixels);
  void ShowKnobs();
  void CopySourceIntoResult();
  void EndOperation(bool closeResult);
  TPlaneList Planes() const;
  TRowFilterOptions RowOptions() const;
  // Runs a handler; a failure becomes a message.
  template <class F>
  void Guarded(F&& f);

  TFrequencyFilter filter_;
  TEqualiser eq_;
  int source_ = -1, result_ = -1;
  bool twoD_ = true;
  bool running_ = false;  // the operation is on (until Ok, Abbrechen or closing)
  double zoom_ = 1.0;
  // Drawing with the left button: the curve when the button went down.
  bool drawing_ = false;
  std::vector<double> drawBase_;
  QPoint pressAt_, lastAt_;
};

// The dialog while it exists (null otherwise).
TForm6* FrequencyFilterDialog();
// Creates the dialog when it does not exist.
TForm6* EnsureFrequencyFilterDialog();

}  // namespace astrelon
