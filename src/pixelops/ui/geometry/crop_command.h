#pragma once
// "Ausschneiden": the selection of the active image cut into a new image.
#include <cstdint>
#include <functional>
#include <string>

class QAction;

namespace astrelon {

void CropCommand(QAction* sender);

// After a cut from source into dst: dst in use with the source's name (as a
// copy), header cards and display record, the history text (starting a card),
// the histogram and a new window.
void ShowCutImage(int source, int dst, const std::string& history);

// Opens the fixed-size crop dialog for a window that shows its crop-frame marker
// (slot, the marker's image point); installed by that dialog. Without it the
// command does nothing for such a window.
extern std::function<void(int slot, int32_t x, int32_t y)> ShowCropChoiceHook;

}  // namespace astrelon
