#include "registration/ui/choose_second_image.h"

#include <QApplication>
#include <QFontMetrics>
#include <QStringList>
#include <vector>

#include "shell/main_services.h"
#include "shell/ui/dialogs/list_chooser.h"
#include "store/image_store.h"

namespace astrelon {

int ChooseSecondImage(int current, int excluded, const QString& prompt, bool colourOnly) {
  QStringList items;
  std::vector<int> listed;
  const QFontMetrics metrics(QApplication::font());
  for (int s = 1; s <= MaxImageSlots; ++s) {
    if (!Store.HasWindow[s] || !Store.InUse[s] || s == current || s == excluded) continue;
    if (colourOnly && !Store.Image[s].IsColor) continue;
    items << metrics.elidedText(QString::fromStdString(Store.FileName[s]), Qt::ElideMiddle, 302);
    listed.push_back(s);
  }
  if (items.isEmpty()) return -1;
  const int index = ChooseFromList(prompt, items, QApplication::activeWindow());
  return index >= 0 && index < int(listed.size()) ? listed[size_t(index)] : -1;
}

int OtherOrChosenImage(int current, const QString& prompt) {
  const int other = FindOtherWindow(current);
  return other >= 1 ? other : ChooseSecondImage(current, current, prompt, false);
}

}  // namespace astrelon
