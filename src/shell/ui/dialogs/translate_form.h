#pragma once
// Translating windows from the loaded translation file. A translatable control
// carries its packed language key in the dynamic property "Tag" (keys are above
// 255; smaller tags are not keys). A missing or empty translation keeps the
// German text.
#include <array>
#include <string>

class QAction;
class QWidget;

namespace astrelon {

// The top-level window with this object name, searched from the newest to the oldest; null when none.
QWidget* FindFormByName(const std::string& formName);
// Sets the caption of every label, button, check box, radio group, group box,
// tab page and panel of the window whose Tag is a key with a translation.
void TranslateForm(const std::string& formName);
// Translates controls named by number (Label1.., Checkbox1.., Button1..,
// Radiogroup1..) from a table of 96 keys; entries <= 0, empty texts and
// missing controls are skipped.
void TranslateNumberedControls(const std::string& formName, const std::array<int, 96>& keys);
// Sets a menu item's caption from a key, keeping its German caption when the
// translation is missing or empty.
void TranslateMenuCaption(QAction* action, int key);

}  // namespace astrelon
