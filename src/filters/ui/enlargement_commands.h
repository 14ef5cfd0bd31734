#pragma once
// The two-times enlargements of the "Bildgeometrie" menu that need no network
// file: "Bildgröße x2 triangulation", "Bildgröße x2 Nedi" and "Bildgröße x2 NN
// autoscan" (the hidden items; "Bildgröße x2 triangulation2" and "Bildgröße x2
// FFT" get no command and stay hidden).
#include <cstdint>
#include <functional>

class QAction;

namespace astrelon {

void Bildgrex2triangulation1Click(QAction* sender);
void Bildgrex2spline1Click(QAction* sender);
void Bildgrex2NeuronalesNetzwerk1Click(QAction* sender);

// The seed of the autoscan's random generator: AutoscanDefaultSeed; tests may set it.
extern std::function<uint64_t()> AutoscanSeed;

void RegisterEnlargementCommands();

}  // namespace astrelon
