#pragma once
// Menu commands that open the master dark/flat dialog in its two modes.
namespace astrelon {

// "Masterdarkflaterstellen1" (master mode) and "Multifokus1" (multifocus mode).
void RegisterMasterFrameCommands();

}  // namespace astrelon
