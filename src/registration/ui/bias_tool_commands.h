#pragma once
// Menu commands of the bias-image tools: bias images from master darks, the
// mosaic flat normalisation, the mosaic noise and the Larson-Sekanina start.
namespace astrelon {

// Registers the commands by their menu items' object names.
void RegisterBiasToolCommands();

}  // namespace astrelon
