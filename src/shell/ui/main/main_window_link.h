#pragma once
// What the image windows and the main-window services need of the main window:
// its MDI area and a few of its controls. The main window attaches itself at
// creation; the pieces that later parts of the main window supply (status bar
// panels, menu states, side-panel buttons) are optional callbacks.
#include <QPointer>
#include <QString>
#include <array>
#include <functional>

class QMainWindow;
class QMdiArea;

namespace astrelon {

struct TMainWindowLink {
  QPointer<QMainWindow> Window;
  QPointer<QMdiArea> MdiArea;

  // Texts of the main status bar's panels 0..3 (the last text set, also without a hook).
  std::array<QString, 4> StatusTexts;
  std::function<void(int panel, const QString& text)> SetStatusText;
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
};

TMainWindowLink& MainLink();
// Makes `window` the main window whose MDI area holds the image windows; also
// accepts files dropped on it.
void AttachMainWindow(QMainWindow* window, QMdiArea* area);

// Sets a panel of the main status bar.
void SetMainStatusText(int panel, const QString& text);
void CallUpdateStatusBar();
void CallUpdateMenuItems();

}  // namespace astrelon
