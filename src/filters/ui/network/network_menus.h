#pragma once
// The main-menu items of every network command, disabled while a network is
// trained or applied so that no second command replaces the network in use.

namespace astrelon {

// Object names of the items: universal filter, universal-filter training,
// two-times training, two-times enlargement by network and its direct choice,
// "Eigene NN-Filter", the colour-mosaic conversion and debayer-filter training.
inline constexpr const char* NetworkMenuItems[] = {
    "UniversellerFilterNeuronalesNetzwerk1", "UniversellenFiltertrainieren1", "trainNNbp1",
    "Bildgrx2NN1",                           "Bildgrex2NNDirektwahl1",        "EigeneNNFilter1",
    "FarbCCDzuRGBBild1",                     "DebayerFiltertrainieren1"};

void EnableNetworkMenus();
void DisableNetworkMenus();

}  // namespace astrelon
