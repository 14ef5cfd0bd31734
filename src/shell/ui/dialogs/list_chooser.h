#pragma once
// The small list chooser: the caller fills the list and shows the chooser; Ok
// keeps the selected item, Cancel clears the selection.
#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;

namespace astrelon {

class TForm4 : public QDialog {
  Q_OBJECT
public:
  explicit TForm4(QWidget* parent = nullptr);

  // Index of the selected item; -1 when none (always -1 after Cancel).
  int ItemIndex() const;

  QListWidget* ListBox1;
  QPushButton* Button1;  // "&Ok", enabled once an item is clicked
  QPushButton* Button2;  // "&Abbrechen"

  void Button1Click();
  void Button2Click();

protected:
  void showEvent(QShowEvent* e) override;
  void reject() override;  // Esc: as Cancel

private:
  bool translated_ = false;
};

// Fills a chooser with the items, shows it modally and returns the chosen index, -1 for none.
int ChooseFromList(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

}  // namespace astrelon
