#pragma once
// The about box "Info": program name, version, author and contact address.
#include <QDialog>
#include <QUrl>

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
  QLabel* Contact;  // a click writes a mail to the contact address
  QLabel* Note;
  QPushButton* OKButton;

  // "mailto:" address with the program name and version as subject.
  static QUrl ContactUrl();

protected:
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// Creates the about box, which frees itself when closed, and shows it modally.
void ShowAboutBox(QWidget* parent = nullptr);

}  // namespace astrelon
