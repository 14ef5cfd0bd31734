#include "shell/ui/menu/main_menu.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QShortcut>
#include <vector>

#include "shell/ui/dialogs/hidden_menu_items.h"
#include "shell/ui/menu/main_menu_table.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon {

namespace {

const char* const FlagsProperty = "astrelonMenuFlags";

QPointer<QMenuBar>& Bar() {
  static QPointer<QMenuBar> bar;
  return bar;
}

unsigned FlagsOf(const QAction* a) { return a->property(FlagsProperty).toUInt(); }
bool Managed(const QAction* a) { return a->property(FlagsProperty).isValid(); }

void AddEntries(QMenu* menu, const std::vector<TMenuEntry>& entries, QWidget* window);

QAction* AddEntry(QMenu* menu, const TMenuEntry& e, QWidget* window) {
  QAction* a = nullptr;
  if (e.Flags & mfSeparator) {
    a = menu->addSeparator();
  } else if (!e.Items.empty() || (e.Flags & mfDynamic)) {
    QMenu* sub = menu->addMenu(e.Caption);
    sub->setObjectName(e.Name + "Menu");
    a = sub->menuAction();
    AddEntries(sub, e.Items, window);
    if (e.Flags & mfDynamic) a->setVisible(false);
  } else {
    a = menu->addAction(e.Caption);
    a->setShortcut(e.Shortcut);
    a->setData(e.Tag);
    a->setCheckable(e.Flags & mfCheckable);
    if (e.Flags & mfShortcutOnly) {
      // A hidden action's shortcut does not fire: the window carries it.
      auto* shortcut = new QShortcut(e.Shortcut, window);
      QPointer<QAction> item = a;
      QObject::connect(shortcut, &QShortcut::activated, window, [item] {
        if (item) RunMenuCommand(item->objectName(), item);
      });
    }
  }
  a->setObjectName(e.Name);
  a->setProperty(FlagsProperty, e.Flags);
  if (e.Flags & mfUnlockable) a->setProperty("unlockable", true);
  return a;
}

void AddEntries(QMenu* menu, const std::vector<TMenuEntry>& entries, QWidget* window) {
  for (const TMenuEntry& e : entries) AddEntry(menu, e, window);
  QObject::connect(menu, &QMenu::aboutToShow, menu, [menu] { RefreshMenuVisibility(menu); });
}

bool Locked(unsigned flags) { return (flags & mfUnlockable) && !HiddenMenusUnlocked; }

// Visibility of the managed actions of a menu; true when any action shows.
bool Refresh(QMenu* menu) {
  bool any = false;
  for (QAction* a : menu->actions()) {
    if (!Managed(a)) {
      any = any || (a->isVisible() && !a->isSeparator());
      continue;
    }
    const unsigned flags = FlagsOf(a);
    if (flags & mfSeparator) {
      a->setVisible(!Locked(flags));
    } else if (flags & mfDynamic) {
      any = any || a->isVisible();
    } else if (QMenu* sub = a->menu()) {
      const bool shown = Refresh(sub) && !Locked(flags);
      a->setVisible(shown);
      any = any || shown;
    } else {
      const bool shown = MenuCommandAvailable(a->objectName()) && !(flags & mfShortcutOnly) && !Locked(flags);
      a->setVisible(shown);
      any = any || shown;
    }
  }
  return any;
}

QString Plain(const QString& caption) { return QString(caption).remove('&'); }

}  // namespace

void BuildMainMenu(QMenuBar* bar, QWidget* window) {
  Bar() = bar;
  for (const TMenuEntry& top : MainMenuTable()) {
    QMenu* menu = bar->addMenu(top.Caption);
    menu->setObjectName(top.Name + "Menu");
    menu->menuAction()->setObjectName(top.Name);
    AddEntries(menu, top.Items, window);
  }
  ConnectMenuCommands(bar);
  SetMenuCommandsChangedHook([] { RefreshMenuVisibility(); });
  RefreshMenuVisibility();
}

QAction* MainMenuItem(const QString& objectName) {
  QMenuBar* bar = Bar();
  if (!bar || objectName.isEmpty()) return nullptr;
  for (QAction* a : bar->findChildren<QAction*>(objectName)) return a;
  return nullptr;
}

QMenu* MainTopMenu(int index) {
  QMenuBar* bar = Bar();
  if (!bar) return nullptr;
  const QList<QAction*> tops = bar->actions();
  return index >= 0 && index < tops.size() ? tops[index]->menu() : nullptr;
}

void RefreshMenuVisibility(QMenu* menu) {
  if (menu) {
    Refresh(menu);
    return;
  }
  if (QMenuBar* bar = Bar())
    for (QAction* top : bar->actions())
      if (top->menu()) Refresh(top->menu());
}

QAction* FindMenuItemByCaption(const QString& caption) {
  const QString wanted = Plain(caption);
  if (wanted.isEmpty()) return nullptr;
  auto same = [&wanted](const QAction* a) {
    return !a->isSeparator() && Plain(a->text()).compare(wanted, Qt::CaseInsensitive) == 0;
  };
  for (int m : {1, 2}) {
    QMenu* menu = MainTopMenu(m);
    if (!menu) continue;
    for (QAction* a : menu->actions())
      if (same(a)) return a;
    for (QAction* a : menu->actions())
      if (QMenu* sub = a->menu(); sub && sub->actions().size() >= 2)
        for (QAction* b : sub->actions())
          if (same(b)) return b;
  }
  return nullptr;
}

int MenuItemTag(const QAction* item) { return item ? item->data().toInt() : 0; }

}  // namespace astrelon
