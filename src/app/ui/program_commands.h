#pragma once
// The menu commands of every subsystem, registered once before the main window
// is built (the program's main and the user-interface tests call it).
namespace astrelon {

void RegisterProgramCommands();

}  // namespace astrelon
