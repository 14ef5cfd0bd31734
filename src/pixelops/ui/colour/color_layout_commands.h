#pragma once
// Menu commands of the colour layout: the colour-correction dialog, a grey image
// expanded to RGB, and an RGB image made into a colour-filter mosaic.
namespace astrelon {

// Registers "Farbkorrektur1", "BildnachRGBerweitern1" and "RGBzuBayerPattern1".
void RegisterColorLayoutCommands();

}  // namespace astrelon
