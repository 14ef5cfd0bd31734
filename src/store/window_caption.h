#pragma once
// Text of an image window's caption: the slot's file name, with its folder when
// the setting "Ganzer Pfad" is on. The window shortens it to fit.
#include <string>

namespace astrelon {

std::string WindowCaptionText(int slot);

}  // namespace astrelon
