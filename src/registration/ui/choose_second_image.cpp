#include "registration/ui/choose_second_image.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLayout>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

#include "shell/main/main_services.h"
#include "shell/ui/dialogs/list_chooser.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Rows shown at most before the list scrolls.
constexpr int MaxVisibleRows = 15;

// Reduces the current window's border icons while the chooser is open.
class TOperationIcons {
public:
  explicit TOperationIcons(int slot) : link_(ValidSlot(slot) ? Store.Window[size_t(slot)] : nullptr) {
    if (link_) link_->SetOperationIcons(true);
  }
  ~TOperationIcons() {
    if (link_) link_->SetOperationIcons(false);
  }
  TOperationIcons(const TOperationIcons&) = delete;
  TOperationIcons& operator=(const TOperationIcons&) = delete;

private:
  TImageWindowLink* link_;
};

}  // namespace

int ChooseSecondImage(int current, int excluded, const QString& prompt, bool colourOnly) {
  TForm4 form(QApplication::activeWindow());
  form.setWindowTitle(prompt);
  const QFontMetrics metrics(form.ListBox1->font());
  for (int s = 1; s <= MaxImageSlots; ++s) {
    if (!Store.HasWindow[s] || !Store.InUse[s] || s == current || s == excluded) continue;
    if (colourOnly && !Store.Image[s].IsColor) continue;
    // Each entry keeps its slot: two names may shorten alike.
    auto* item = new QListWidgetItem(
        metrics.elidedText(QString::fromStdString(Store.FileName[s]), Qt::ElideMiddle, 302), form.ListBox1);
    item->setData(Qt::UserRole, s);
  }
  const int n = form.ListBox1->count();
  if (n == 0) return -1;
  if (n == 1) form.ListBox1->setCurrentRow(0);
  const int rowHeight = std::max(1, form.ListBox1->sizeHintForRow(0));
  const int listHeight = rowHeight * std::min(n, MaxVisibleRows) + 4;
  form.ListBox1->setFixedHeight(listHeight);
  // The buttons sit 7 pixels below the list, the dialog 36 pixels taller than
  // it.
  if (QLayout* layout = form.layout()) {
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(3);
  }
  form.setFixedHeight(listHeight + 36);
  const TOperationIcons icons(current);
  form.exec();
  const QListWidgetItem* chosen = form.ItemIndex() >= 0 ? form.ListBox1->item(form.ItemIndex()) : nullptr;
  if (!chosen) return -1;
  const int slot = chosen->data(Qt::UserRole).toInt();
  return SlotInUse(slot) ? slot : -1;
}

int OtherOrChosenImage(int current, const QString& prompt) {
  const int other = FindOtherWindow(current);
  return other >= 1 ? other : ChooseSecondImage(current, current, prompt, false);
}

}  // namespace astrelon
