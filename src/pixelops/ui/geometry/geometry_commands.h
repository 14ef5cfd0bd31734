#pragma once
// Menu commands of the image geometry: borders, the fixed-size crop, rotation.

namespace astrelon {

void RegisterGeometryCommands();

}  // namespace astrelon
