#include "filters/ui/network/network_filter_menu.h"

#include <QAction>
#include <QMenu>

#include "core/settings.h"
#include "filters/network/network_folder.h"
#include "filters/ui/network/network_commands.h"
#include "shell/ui/menu/main_menu.h"

namespace astrelon {

namespace {

constexpr const char* FileProperty = "networkFile";

// Removes every entry and submenu of a dynamic submenu. They are deleted
// later: the entry whose command rebuilds the menus may still be running.
void Empty(QMenu* menu) {
  for (QAction* a : menu->actions()) {
    menu->removeAction(a);
    if (QMenu* sub = a->menu(); sub && sub->parent() == menu)
      sub->deleteLater();
    else if (a->parent() == menu)
      a->deleteLater();
  }
}

void AddEntry(QMenu* menu, const TNetworkMenuEntry& e, void (*handler)(QAction*)) {
  QAction* a = menu->addAction(QString::fromStdString(e.Caption));
  a->setData(e.Tag);
  a->setProperty(FileProperty, QString::fromStdString(e.Path));
  QObject::connect(a, &QAction::triggered, a, [a, handler] { handler(a); });
}

}  // namespace

QString NetworkItemFile(const QAction* item) { return item ? item->property(FileProperty).toString() : QString(); }

void BuildNetworkFilterMenu() {
  QAction* own = MainMenuItem("EigeneNNFilter1");
  QAction* direct = MainMenuItem("Bildgrex2NNDirektwahl1");
  if (!own || !own->menu() || !direct || !direct->menu()) return;
  Empty(own->menu());
  Empty(direct->menu());
  const TNetworkFolderListing listing = ListNetworkFolder(Settings.NetworkFolder);
  for (const TNetworkMenuEntry& e : listing.Filters) AddEntry(own->menu(), e, EigeneNNFilter1Click);
  for (const TNetworkSubfolder& s : listing.Subfolders) {
    QMenu* sub = own->menu()->addMenu(QString::fromStdString(s.Name));
    for (const TNetworkMenuEntry& e : s.Items) AddEntry(sub, e, EigeneNNFilter1Click);
  }
  for (const TNetworkMenuEntry& e : listing.TwoTimes) AddEntry(direct->menu(), e, Bildgrex2NNDirektwahl1Click);
  own->setVisible(listing.Filters.size() + listing.Subfolders.size() > 1);
  direct->setVisible(!listing.TwoTimes.empty());
}

}  // namespace astrelon
