#pragma once
#include <QMainWindow>

namespace astrelon {

// The main window: menus, tool bar, side panels, status bar and the image windows.
class TMainForm : public QMainWindow {
  Q_OBJECT
public:
  explicit TMainForm(QWidget* parent = nullptr);
};

}  // namespace astrelon
