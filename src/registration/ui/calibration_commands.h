#pragma once
// Menu commands of the calibration of single images: the four
// "Dunkelbildsubtraktion" items and the two divisions by a flat image, each
// making its result in a new window.
#include "registration/calibration/dark_subtraction.h"

class QAction;

namespace astrelon {

// The shared handler of the dark-subtraction items; the options come from the
// item's tag, `options` when the command runs without an item.
void mitHotpixelkorrektur1Click(QAction* sender, TDarkOptions options);
// "(Hell-)Bild &dividieren" (plain) and "Hellbild dividieren - automatisch skaliert".
void DivideByFlatCommand(QAction* sender, bool automatic);

void RegisterCalibrationCommands();

}  // namespace astrelon
