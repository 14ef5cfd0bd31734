#pragma once
// The about box "Info": program name, version and authors. The program has no
// contact address, so the box names none.
#include <QDialog>

class QLabel;
class QPushButton;

namespace astrelon {

class TAboutBox : public QDialog {
  Q_OBJECT
public:
  explicit TAboutBox(QWidget* parent = nullptr);

  QLabel* ProductName;
  QLabel* Version;
  QLabel* Copyright;
  QPushButton* OKButton;

protected:
  void showEvent(QShowEvent* e) override;
};

// Creates the about box, which frees itself when closed, and shows it modally.
void ShowAboutBox(QWidget* parent = nullptr);

}  // namespace astrelon
