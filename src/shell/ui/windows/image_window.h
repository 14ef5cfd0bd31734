#pragma once
// The window of one image slot inside the main window: the rendered picture in a
// scroll box at the slot's zoom, the selections, markers and marks, the progress
// bar and the window's own status bar (zoom and size). It holds no pixels: Tag is
// the slot number and everything else comes from the image store.
#include <QMdiSubWindow>
#include <QPoint>
#include <QString>
#include <functional>
#include <string>

#include "shell/ui/windows/image_view.h"
#include "store/image_store.h"

class QLabel;
class QProgressBar;
class QScrollArea;
class QStatusBar;

namespace astrelon {

// A key handed to the star keys: its code and the text it typed ("m" or "M").
struct TKeyStroke {
  TKeyStroke(int key, QString text = {}) : Key(key), Text(std::move(text)) {}
  int Key = 0;
  QString Text;
};

class TMDIChild : public QMdiSubWindow, public TImageWindowLink, public TImageViewEvents {
  Q_OBJECT
public:
  explicit TMDIChild(QWidget* parent = nullptr);
  ~TMDIChild() override;

  int32_t Tag = 0;  // the slot; 0 until a slot is attached

  QScrollArea* ScrollBox1 = nullptr;
  TImageView* Image1 = nullptr;
  QLabel* Label2 = nullptr;  // progress caption
  QProgressBar* ProgressBar1 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QLabel* ZoomPanel = nullptr;  // status panel 0
  QLabel* SizePanel = nullptr;  // status panel 1

  // Fields of the window.
  QPoint PopupPoint;     // screen position of the last pop-up request
  int32_t DragKind = 0;  // 0 nothing, 1 Shape1, 2 Shape2, negative: mark -1-DragKind
  int32_t MenuTarget = 0;
  int32_t ShapePress = 0;  // 0 none, 1 Shape1, 2 Shape2, 3 a mark
  QPoint PressCursor;      // screen position when a shape was pressed
  QPoint DragAnchor;       // control pixels
  int32_t PressedMark = -1;  // the mark being moved

  TWindowOverlay& Overlay() { return Image1->Overlay; }
  const TWindowOverlay& Overlay() const { return Image1->Overlay; }
  int Zoom() const;
  // Top-left of the picture inside the scroll box's visible area (negative when scrolled).
  QPoint PictureOrigin() const;

  // Marks (bounds in control pixels). AddMark does nothing beyond 256 marks.
  bool AddMark(int left, int top, int width, int height);
  void DeleteMark(int n);
  void DeleteAllMarks();

  // Selection status in the main status bar and the crop button.
  void UpdateSelectionStatus();
  // Working rectangle and remembered selections from the visible shapes.
  void SyncSelectionsFromShapes();
  // Puts selections, markers and marks at their places for the current zoom.
  void PlaceOverlayAtZoom();
  // "Markierung ausblenden" for MenuTarget, and "Markierungen ausblenden".
  void HideMenuTarget();
  void HideAllSelections();
  // Border icons while an interactive operation or a mouse operation runs.
  void SetBorderIconsLocked(bool locked);
  bool BorderIconsLocked() const { return iconsLocked_; }
  // Set while LockWindowBorderIcons holds the icons for a mouse operation.
  bool MouseOperationLock = false;

  // TImageWindowLink
  int MarkCount() const override;
  bool MarkImageRect(int k, TRectI& r) const override;
  bool MarkerVisible(int n) const override;
  TPointI MarkerImagePoint(int n) const override;
  bool SelectionVisible(int n) const override;
  TRectI SelectionImageRect(int n) const override;
  void MoveMark(int k, const TRectI& r) override;
  void CentreSelection(int n, double x, double y) override;
  void SetOperationIcons(bool running) override;
  void ShowProgressBar(int percent, const std::string& caption) override;
  void HideProgressBar() override;
  bool IsActiveWindow() const override;

  // TImageViewEvents (the picture's mouse handlers)
  void ViewMousePress(QMouseEvent* e) override;
  void ViewMouseMove(QMouseEvent* e) override;
  void ViewMouseRelease(QMouseEvent* e) override;

  // Handlers of the window itself.
  void FormActivate();

  // Hooks for the mouse tools and pop-up menus of later parts of the window.
  // A tool returns true when it handled the event.
  static std::function<bool(TMDIChild&, QMouseEvent*)> ToolPressHook;
  static std::function<bool(TMDIChild&, QMouseEvent*)> ToolMoveHook;
  static std::function<bool(TMDIChild&, QMouseEvent*)> ToolReleaseHook;
  // Pixel menu (right press on the picture) and region menu (right press on a
  // selection, marker or mark; MenuTarget says which).
  static std::function<void(TMDIChild&, QPoint globalPos)> PixelMenuHook;
  static std::function<void(TMDIChild&, QPoint globalPos, bool forMark)> RegionMenuHook;
  // Keys after Escape handling (star commands), and activity of preview dialogs
  // that follow selection changes (filter and wavelet dialogs, crop dialog).
  static std::function<void(const TKeyStroke&)> KeyCommandHook;
  static std::function<void(TMDIChild&, int kind)> SelectionChangedHook;
  // The window is about to be freed with its slot (blink window, undo store).
  static std::function<void(int slot)> WindowClosedHook;

protected:
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void ShapeMouseDown(QMouseEvent* e, TOverlayHit hit, int mark);
  void ShapeMouseMove(QMouseEvent* e);
  void SelectionMouseMove(QPoint pos);
  void SelectionMouseUp();
  void AutoScroll(QPoint pos);
  void ShowPixelText(QPoint pos);
  void ShapeFollows(int kind);
  QRect& DraggedShape();

  bool iconsLocked_ = false;
  bool pressOnPicture_ = false;  // the left press started on the picture (not on a shape)
  bool dragMoved_ = false;       // the pointer moved since that press
};

// The image window of a slot; nullptr when it has none.
TMDIChild* ImageWindow(int slot);

}  // namespace astrelon
