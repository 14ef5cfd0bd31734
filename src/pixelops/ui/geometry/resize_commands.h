#pragma once
// Menu commands of resampling: "Bildgröße ändern".

namespace astrelon {

void RegisterResizeCommands();

}  // namespace astrelon
