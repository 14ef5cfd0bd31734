#pragma once
// A framed group of radio buttons in columns with an item index (-1 when no item
// is chosen), as the dialogs of the program use them.
#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QGridLayout;

namespace astrelon {

class TRadioGroup : public QGroupBox {
  Q_OBJECT
public:
  TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent = nullptr);

  int ItemIndex() const;
  // Chooses an item (-1 clears the choice); emits nothing.
  void SetItemIndex(int index);
  int Count() const { return int(items_.size()); }
  QString Item(int index) const;
  void SetItems(const QStringList& items);

signals:
  // The user chose an item.
  void Clicked(int index);

private:
  QButtonGroup* group_;
  QGridLayout* grid_;
  QStringList items_;
  int columns_;
};

}  // namespace astrelon
