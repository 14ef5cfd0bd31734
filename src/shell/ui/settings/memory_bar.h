#pragma once
// The main window's bottom tool bar "ToolBar2": how much memory the program
// holds (resident and mapped) against the system's free and total memory,
// redrawn by its timer while shown. It takes the place of a map of the
// process's address space, which means nothing in a 64-bit address space.
#include <QString>
#include <QToolBar>
#include <functional>

#include "platform/memory_probe.h"

class QLabel;
class QTimer;
class QToolButton;

namespace astrelon {

class TMemoryBarView;

class TMemoryBar : public QToolBar {
  Q_OBJECT
public:
  explicit TMemoryBar(QWidget* parent = nullptr);

  QTimer* Timer3 = nullptr;  // redraws the bar every second while shown
  QToolButton* SpeedButtonExitP3 = nullptr;
  TMemoryBarView* View = nullptr;
  QLabel* Label = nullptr;  // the figures
  // Called by the exit button (the settings dialog unchecks its box).
  std::function<void()> ExitClicked;

  // Reads the figures and redraws.
  void Timer3Timer();
  const TProcessMemory& Figures() const;
};

// Shows or hides the bar at the bottom of the main window (made on first
// showing) and runs its timer while it is shown.
void ShowMemoryBar(bool show);
// The bar; nullptr before its first showing or without a main window.
TMemoryBar* MemoryBar();

// "Programm: 120 MB im Speicher, 900 MB abgebildet   Frei: 5.2 GB von 15.6 GB".
QString MemoryBarText(const TProcessMemory& m);

}  // namespace astrelon
