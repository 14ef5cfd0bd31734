#pragma once
// The menu commands that apply a trained network: the two-times enlargement
// ("Bildgröße x2 Neuronales Netzwerk" and the entries of "Bildgröße x2 NN
// Direktwahl") and the network filters ("Universeller Filter (Neuronales
// Netzwerk)" and the entries of "Eigene NN-Filter"; files whose names begin
// with "_" open the filter dialog's function 17).
#include <QString>
#include <functional>

class QAction;

namespace astrelon {

// Asks for a network file with the open dialog (`filter` as "Name (*.ext)",
// starting in the network folder); empty when cancelled. Tests replace it.
extern std::function<QString(const QString& filter)> ChooseNetworkFile;

void Bildgrx2NN1Click(QAction* sender);
// An entry of "Bildgröße x2 NN Direktwahl" (its file is kept on the item).
void Bildgrex2NNDirektwahl1Click(QAction* item);
void UniversellerFilterNeuronalesNetzwerk1Click(QAction* sender);
// An entry of "Eigene NN-Filter" (its file is kept on the item).
void EigeneNNFilter1Click(QAction* item);

// Registers the commands and the menu builder (MainLink().BuildNetworkFilterMenu).
void RegisterNetworkCommands();

}  // namespace astrelon
