#pragma once
// The pictures of the tool bar's picture buttons, drawn by the program (24 x 24,
// transparent background).
#include <QImage>

namespace astrelon {

constexpr int ToolBarIconSize = 24;

// Button 1..13 of the tool bar; 0 and 9 give the shift-mode pictures: `crossCorrelation`
// chooses the second one.
QImage ToolBarIcon(int button, bool crossCorrelation = false);

}  // namespace astrelon
