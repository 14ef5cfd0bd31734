#pragma once
// What the image windows and the main-window services need of the main window:
// its MDI area and a few of its controls. The main window attaches itself at
// creation; the pieces that later parts of the main window supply (status bar
// panels, menu states, side-panel buttons) are optional callbacks.
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <array>
#include <functional>

class QMainWindow;
class QMdiArea;
class QWidget;

namespace astrelon {

class TMainToolBar;
class TSidePanel;

struct TMainWindowLink {
  QPointer<QMainWindow> Window;
  QPointer<QMdiArea> MdiArea;

  // Texts of the main status bar's panels 0..3 (the last text set, also without a hook).
  std::array<QString, 4> StatusTexts;
  std::function<void(int panel, const QString& text)> SetStatusText;
  // Panel 0 shows a pixel text: sized to the text, greyed when `grey`.
  std::function<void(const QString& text, bool grey)> ShowPixelText;
  // Main status bar panel 2 and the enabled states of the menus.
  std::function<void()> UpdateStatusBar;
  std::function<void()> UpdateMenuItems;
  // The tool bar's crop button (enabled with exactly one selection).
  std::function<void(bool enabled)> SetCropButtonEnabled;
  // Whether the colour-space button ("Farbraum") is enabled.
  std::function<bool()> ColourSpaceButtonEnabled;
  // Side-panel buttons of a slot (colour-space and channel buttons, open preview dialogs).
  std::function<void(int slot, int partnerToo)> UpdateInfoPanelControls;
  // Caption of the tool bar's zoom button.
  std::function<void(const QString& caption)> SetZoomCaption;

  // The main window's tool bar and side panel (null until the main window is built).
  QPointer<TMainToolBar> ToolBar;
  QPointer<TSidePanel> Panel;
  // Set while the main window closes or is minimised: the histogram window's
  // hiding then keeps its menu item checked.
  bool ClosingOrMinimising = false;

  // Set by the parts of the program that own these windows and tools; the main
  // window calls them when they are set.
  // Whether the shared filter dialog is shown (image operations are then disabled).
  std::function<bool()> FilterDialogVisible;
  // The line-profile window repaints.
  std::function<void()> RepaintLineProfile;
  // Side-panel mode 1..7 (mouse tool of all image windows) and the undo button.
  std::function<void(int mode)> SetInfoPanelMode;
  std::function<void()> UndoLastStep;
  // Clears the side panel's star pictures (the pointer moved over the frame).
  std::function<void()> ClearPsfPanelImages;
  // Escape in the main window, after the abort flags were raised (star lock).
  std::function<void()> EscapePressed;
  // The stamp size changed (the stamp source picture is redrawn).
  std::function<void()> StampSizeChanged;
  // A click on the side panel's star frame.
  std::function<void()> StarFrameClicked;
  // The right button over the side panel (screen position), and its pop-up's
  // "Infos zur Tabelle hinzufügen".
  std::function<void(QPoint global)> StarPanelMenuRequested;
  std::function<void()> AddStarToTable;
  // The locked star's channel and magnification buttons.
  std::function<void()> StarChannelClicked;
  std::function<void()> StarCellSizeClicked;
  // Set while a dialog previews from the active image: the tool bar's
  // colour-space and plane lists stay disabled.
  bool ColourListsLocked = false;
  // Whether the master dark/flat dialog or the batch window is shown.
  std::function<bool()> BatchToolShown;
  // Fills the "Eigene NN-Filter" submenu from the network folder.
  std::function<void()> BuildNetworkFilterMenu;
  // Whether the network training panel ("Panel2") is shown.
  std::function<bool()> TrainingPanelVisible;
};

TMainWindowLink& MainLink();
// Makes `window` the main window whose MDI area holds the image windows; also
// accepts files dropped on it.
void AttachMainWindow(QMainWindow* window, QMdiArea* area);

// Sets a panel of the main status bar.
void SetMainStatusText(int panel, const QString& text);
void CallUpdateStatusBar();
void CallUpdateMenuItems();

// Tool windows that follow the main window when it moves or is resized (the
// histogram window and the header window): a window whose centre lies right of
// (below) the main window's centre moves with its right (bottom) edge, else with
// its left (top) edge. `onMoved` is called with the window after it moved.
void RegisterFollowingWindow(QWidget* window, std::function<void(QWidget*)> onMoved = {});
void UnregisterFollowingWindow(QWidget* window);
// Moves the registered windows that are shown by the change of the main window's bounds.
void MoveFollowingWindows(const QRect& oldBounds, const QRect& newBounds);

}  // namespace astrelon
