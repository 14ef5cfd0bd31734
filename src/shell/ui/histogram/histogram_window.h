#pragma once
// The histogram window: a stay-on-top tool window that shows the display
// histogram of the active image window and sets how that image is displayed:
// black and white point (red markers), the power gamma or the share of
// histogram equalisation (slider), or a five-point curve with horizontal zoom.
// Changes go into the slot's display record at once; the image is re-rendered
// 600 ms after the last change. Its pop-up menu scales to 8, 12 or 16 bit, sets
// black to 0, scales automatically, writes the display into a new image and
// saves and loads histogram settings files.
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>

#include "shell/ui/histogram/histogram_area.h"
#include "store/display/histogram_value_mapping.h"

class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QToolButton;

namespace astrelon {

class THistogramArrowKeys;

// Windows besides the image window that show a slot's display; the parts that
// build them set these, and the histogram window calls them after it re-rendered.
struct THistogramDependants {
  // The blink window redraws its entries that show the slot (when it is shown).
  std::function<void(int slot)> RedrawBlinkEntries;
  // The manual image-combination dialog redraws its preview (when it is shown).
  std::function<void()> DrawCombinePreview;
};
THistogramDependants& HistogramDependants();

// The horizontal zoom of the curve mode, 1..4: two small arrow buttons.
class THistogramZoomSpin : public QWidget {
  Q_OBJECT
public:
  explicit THistogramZoomSpin(QWidget* parent);
  int Tag = 1;
  QToolButton* Up = nullptr;
  QToolButton* Down = nullptr;
signals:
  void TopClick();
  void BottomClick();
};

// What a press on the drawing surface hits, front to back.
enum class THistogramHit { None, CurveGrip, BlackGrip, WhiteGrip, Black, White, Knob, Track };

class TForm2 : public QWidget, public THistogramAreaEvents {
  Q_OBJECT
public:
  explicit TForm2(QWidget* parent = nullptr);
  ~TForm2() override;

  // ---- controls ----
  THistogramArea* Area = nullptr;  // histogram picture, markers, slider and grips
  QWidget* Panel1 = nullptr;       // button column at the right
  QLabel* Label1 = nullptr;        // RangeLow, upper left
  QLabel* Label2 = nullptr;        // RangeHigh, upper right
  QLabel* Label8 = nullptr;        // Black, beside its marker
  QLabel* Label9 = nullptr;        // White, beside its marker
  QLabel* Label4 = nullptr;        // slider ends: "0.2" / "lin"
  QLabel* Label5 = nullptr;        //              "5" / "his"
  QLabel* Label6 = nullptr;        // slider value beside the slider
  QLabel* Label3 = nullptr;        // slider value in the button column
  QPushButton* Button1 = nullptr;  // mode: "&Gamma", "&Histo", "&Punkte"
  QToolButton* SpeedButton1 = nullptr;  // axis spans black..white
  QToolButton* SpeedButton2 = nullptr;  // "Transp."
  QToolButton* SpeedButton3 = nullptr;  // square-root axis
  QToolButton* SpeedButton4 = nullptr;  // "@ Luma"
  QToolButton* SpeedButton5 = nullptr;  // "o": rounded curve / softer gamma
  THistogramZoomSpin* RxSpinButton1 = nullptr;  // "x Zoom"
  QTimer* Timer1 = nullptr;  // 600 ms: applies a pending change
  QTimer* Timer2 = nullptr;  // 100 ms: follows the active window, arrow keys
  QMenu* PopupMenu1 = nullptr;

  // ---- state ----
  int W = 290;  // histogram area
  int H = 50;
  float BlackX = 0, WhiteX = 0;  // marker positions in pixels of the area
  int L = 178;                   // slider length
  int KnobOffset = 5;            // a third of the knob's width
  int P = 0;                     // knob position 0..L
  int DragTag = 0;               // control being dragged (0 none)
  int CurrentSlot = -1;
  bool ChangePending = false;
  bool Refresh = true;  // the histogram picture is redrawn at the next paint

  // ---- routines ----
  // Start-up: shown at once when the menu item is checked.
  void FormCreate();
  // Takes the active slot, lays out and sets every control from its record.
  void UpdateHistogramControls();
  // Sets the refresh flag and updates the controls.
  void RefreshHistogramWindow();
  // Re-renders the current slot and the windows that show its display.
  void ApplyHistogramChange();
  float ValueToHistogramX(int slot, float value) const;
  double HistogramXToValue(int slot, float x) const;
  // The cached histogram picture, redrawn when the refresh flag is set or its size changed.
  const QImage& HistogramBitmap();

  void Button1Click();
  void SpeedButton1Click();
  void SpeedButton2Click();
  void SpeedButton3Click();
  void SpeedButton4Click();
  void SpeedButton5Click();
  void RxSpinButton1TopClick();
  void RxSpinButton1BottomClick();
  void Timer1Timer();
  void Timer2Timer();

  // Pop-up commands on the current slot.
  void ScaleToBits(int tag);  // 0: 8 bit, 1: 12 bit, 2: 16 bit
  void BlackToZero();
  void AutoScale();
  void TransferToImageValues();
  // Save and load through their file dialogs; the file names are asked by
  // ChooseFile (a file dialog unless a test replaces it).
  void SaveSettingsFile();
  void LoadSettingsFile();
  std::function<QString(bool save, const QString& suggestion)> ChooseFile;

  // Where the shapes are now (area coordinates; empty when hidden).
  QRect Shape1Rect() const;   // black marker line
  QRect Shape2Rect() const;   // white marker line
  QRect Shape10Rect() const;  // black marker grip
  QRect Shape11Rect() const;  // white marker grip
  QRect Shape4Rect() const;   // slider track
  QRect Shape3Rect() const;   // knob
  QRect CurveGripRect(int k) const;  // curve points 1..5
  QRect PaintBoxRect() const;        // histogram picture
  THistogramHit HitTest(QPoint pos, int& grip) const;
  int Zoom() const;  // Z, the curve zoom (1 outside the curve mode)
  bool TransparentDown() const;

  // THistogramAreaEvents
  void PaintArea(QPainter& p) override;
  void AreaMousePress(QMouseEvent* e) override;
  void AreaMouseMove(QMouseEvent* e) override;
  void AreaMouseRelease(QMouseEvent* e) override;
  bool AreaWantsPopup(QPoint pos) override;

protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void moveEvent(QMoveEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

private:
  void BuildControls();
  void FirstShow();
  void FormShow();
  void FormHide();
  void LayoutArea();
  void PlaceControls();
  void SyncToSlot(int slot);
  void TranslateTexts();
  void PaintCurve(QPainter& p);
  bool SlotUsable() const;
  TFrozenHistogramAxis AxisFor(int slot) const;
  int ScrollOffset() const;
  void MarkChanged();
  void KnobMoved(int position);
  void FlushPendingChange();
  void ApplyChangeTo(int slot);
  // On a first run, once the first image window is active: out of its way, into
  // the area's free corner (smaller when need be), unless the user moved it.
  void KeepFirstImageClear();

  // Drag state.
  THistogramHit dragHit_ = THistogramHit::None;
  int dragGrip_ = 0;
  TFrozenHistogramAxis frozen_;
  std::array<float, 7> curveSnapshot_{};
  QPoint dragStartPointer_;
  float dragStartBlackX_ = 0, dragStartWhiteX_ = 0;
  int dragStartP_ = 0;
  QPoint dragStartGrip_;
  std::array<QPoint, 6> gripPos_{};  // top-left of curve grips 1..5 while dragged
  bool gripDragged_ = false;

  // Layout.
  int trackLeft_ = 98;
  int trackWidth_ = 183;
  bool shownBefore_ = false;
  bool settingUp_ = true;
  int pendingSlot_ = -1;  // the slot whose change waits for Timer1
  QImage bitmap_;
  QString lastFile_;  // the save and open dialogs' file name
  THistogramArrowKeys* arrowKeys_ = nullptr;
  std::optional<QPoint> firstRunPlace_;  // where a first run placed the window, until the first image shows
};

// Creates the histogram window at start-up (owned by the main window), attaches
// it to the main window's menu item and tool-bar button, and shows it when the
// menu item is checked.
TForm2* CreateHistogramWindow(QWidget* mainWindow);
// The histogram window (nullptr while none exists).
TForm2* HistogramWindow();

// Registers the pop-up commands of the histogram window.
void RegisterHistogramCommands();

}  // namespace astrelon
