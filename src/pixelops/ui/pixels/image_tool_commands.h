#pragma once
// Small image commands: "&Logarithmieren", "S&obel-Funktion (Randerkennung)",
// "Rauschanteil bestimmen", "Automatischer 2D-FFT Störfilter" and
// "&Rauschen hinzufügen" with its dialog.
namespace astrelon {

// Registers the commands by their menu items' names.
void RegisterImageToolCommands();

}  // namespace astrelon
