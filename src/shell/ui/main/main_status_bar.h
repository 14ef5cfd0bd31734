#pragma once
// The main window's status bar: four panels drawn by the window itself (panel 0
// centred, the others left-aligned), each in its own text colour. Panel 0 shows
// the processor, panel 1 the selection or image size, panel 2 the free memory and
// the number of images (red below 10 MByte); hints replace them while shown.
#include <QColor>
#include <QStatusBar>
#include <array>

namespace astrelon {

class TStatusPanel : public QWidget {
  Q_OBJECT
public:
  TStatusPanel(int index, QWidget* parent);
  int Index;
  QString Text;
  QColor TextColour;  // invalid: the window-text colour
  void SetText(const QString& text);
  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent* e) override;
};

class TMainStatusBar : public QStatusBar {
  Q_OBJECT
public:
  explicit TMainStatusBar(QWidget* parent = nullptr);
  std::array<TStatusPanel*, 4> Panels{};
  void SetPanelText(int panel, const QString& text);
  // Panel 0 with a pixel text: its width follows the text (PixelTextPanelWidth),
  // its colour is the grey-text colour when `grey`, else the window-text colour.
  void ShowPixelText(const QString& text, bool grey);
  QString PanelText(int panel) const;
  // Panel 2: free memory and image count; red when memory is low.
  void UpdateStatusBar();
  void ShowMemoryLine(uint64_t freeBytes);
  // Panel 2's colour: red while memory is low.
  bool LowMemoryShown() const;
};

}  // namespace astrelon
