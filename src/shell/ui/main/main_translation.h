#pragma once
// The main window's texts from the translation file, put in at its first
// showing: the captions of the menu items (by their position in the menu tree),
// the hints of the tool bar and the side panel, the entries of the drop-down
// lists, the program-wide message words and the colour channel letters. A key
// without text keeps the German caption.
class QWidget;

namespace astrelon {

class TMainToolBar;

// Does nothing without a translation file. Errors end it silently.
void TranslateMainWindow(QWidget* window, TMainToolBar* toolBar);

// The captions and hints of the network training panel's controls, found by
// their names below `window` (also when the panel is made after the first
// showing). Nothing without a translation file.
void TranslateTrainingPanel(QWidget* window);

}  // namespace astrelon
