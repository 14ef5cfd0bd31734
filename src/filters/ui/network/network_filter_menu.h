#pragma once
// The submenus that mirror the network folder (setting "NNordner"): "Eigene
// NN-Filter" with the folder's filter networks and one submenu per subfolder
// that holds any, and "Bildgröße x2 NN Direktwahl" with its two-times networks.
#include <QString>

class QAction;

namespace astrelon {

// The file an entry of either submenu stands for (as the listing found it).
QString NetworkItemFile(const QAction* item);

// Empties and refills both submenus. "Eigene NN-Filter" shows when it holds
// more than one entry, the direct choice when it holds any.
void BuildNetworkFilterMenu();

}  // namespace astrelon
