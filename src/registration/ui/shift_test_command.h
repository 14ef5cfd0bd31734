#pragma once
// "Teste Verschiebungsfindung": the accuracy test of the position measurement
// on synthetic stars.
namespace astrelon {

// Registers the command by its menu item's object name.
void RegisterShiftTestCommands();

}  // namespace astrelon
