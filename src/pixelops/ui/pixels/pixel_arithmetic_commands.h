#pragma once
// The menu commands of pixel arithmetic, crop, stray-pixel removal and video
// half frames, registered by their items' object names.
namespace astrelon {

void RegisterPixelArithmeticCommands();

}  // namespace astrelon
