#pragma once
// The batch window's menu of operations: groups of items whose tag is the
// operation a step gets; the blank item " " (tag -1) empties the step.
#include <QString>

class QMenu;
class QWidget;

namespace astrelon {

// Builds the menu ("PopupMenu2"); each item's data is its operation number.
// Captions are translated where a translation file is loaded.
QMenu* BuildBatchOperationMenu(QWidget* parent);
// Number of operation items (the blank one included).
int BatchOperationMenuItemCount();

}  // namespace astrelon
