#pragma once
// "&Störpixel entfernen" and "Störpixel &entfernen +": stray pixels of the
// selection removed in a copy of the active image, at normal and strong strength.
class QAction;

namespace astrelon {

void RemoveStrayPixelsCommand(QAction* sender);        // factor 3.0
void RemoveStrayPixelsStrongCommand(QAction* sender);  // factor 1.5

}  // namespace astrelon
