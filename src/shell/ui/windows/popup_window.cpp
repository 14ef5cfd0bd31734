#include "shell/ui/windows/popup_window.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

#include "core/language.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/image_window.h"

namespace astrelon {

namespace {
QPointer<TMDIChild> LastPopupWindow;
}

void SetPopupWindow(TMDIChild* window) { LastPopupWindow = window; }

QMenu* WindowPopupMenu(TMDIChild& window, const char* name, std::span<const TPopupItem> items) {
  if (QMenu* menu = window.findChild<QMenu*>(name, Qt::FindDirectChildrenOnly)) return menu;
  auto* menu = new QMenu(&window);
  menu->setObjectName(name);
  for (const TPopupItem& item : items) {
    const std::string translated = item.Key ? LangText(item.Key) : std::string();
    const QString caption = translated.empty() ? QString::fromUtf8(item.Caption) : QString::fromStdString(translated);
    QAction* a = item.Caption ? menu->addAction(caption) : menu->addSeparator();
    a->setParent(menu);
    a->setObjectName(item.Name);
  }
  ConnectMenuCommands(menu);
  return menu;
}

void ShowMenuItem(QMenu* menu, const char* name, bool visible) {
  if (QAction* a = menu->findChild<QAction*>(name, Qt::FindDirectChildrenOnly)) a->setVisible(visible);
}

TMDIChild* PopupWindow(QAction* sender) {
  if (sender)
    for (QObject* o = sender->parent(); o; o = o->parent())
      if (auto* w = qobject_cast<TMDIChild*>(o)) return w;
  if (LastPopupWindow) return LastPopupWindow;
  return ImageWindow(FindActiveSlot());
}

}  // namespace astrelon
