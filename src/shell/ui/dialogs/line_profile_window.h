#pragma once
// The line profile (TForm26, form 26, " Pixelwerte auf einer Linie"): the pixel
// values along the marked line as a diagram with value and position axes, grid,
// one curve per plane and optionally the values written above the points; the
// pixel under the mouse in its status bar; and the diagram as a new image.
#include <QWidget>

#include "shell/statistics/line_profile.h"

class QAction;
class QMenu;
class QStatusBar;

namespace astrelon {

class TForm26 : public QWidget {
  Q_OBJECT
public:
  explicit TForm26(QWidget* parent = nullptr);

  QStatusBar* StatusBar1;
  QMenu* PopupMenu1;
  QAction* Pixelwerteeintragen1;  // "Pixelwerte eintragen" (checkable)
  QAction* popup1;                // "Bild von der Grafik machen"

  TLineSamples Samples;
  bool Sampled = false;
  int32_t LeftMargin = 30;

  // The diagram as a new image in the lowest free slot, shown in a window; the
  // slot, or -1 when none was free.
  int popup1Click();
  // The plot area's height (the client without the status bar).
  int PlotClientHeight() const;

protected:
  void paintEvent(QPaintEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;

private:
  void EnsureSamples();
  void DrawDiagram(class QPainter& p, int clientWidth, int h);
};

// Shows the profile of the marked line (creating the window).
void ShowLineProfileWindow();
// Closes the window when it is open (the line's window is re-rendered).
void CloseLineProfileWindow();
TForm26* LineProfileWindow();

}  // namespace astrelon
