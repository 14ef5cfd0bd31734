#pragma once
// The commands of the image windows' pop-up menus and the undo button.

namespace astrelon {

// Registers the pop-up menus' commands by item name, lets the image windows open
// the menus and connects the side panel's undo button to the undo store.
void RegisterImageWindowCommands();

}  // namespace astrelon
