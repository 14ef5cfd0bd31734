#pragma once
// The main-menu command "Farb-&CCD zu RGB Bild": opens the colour-mosaic dialog
// for the active grey image with the pattern and multipliers of its camera.
class QAction;

namespace astrelon {

void FarbCCDzuRGBBild1Click(QAction* sender);
// Registers the command and installs the conversion for the own-RAW loader.
void RegisterMosaicCommands();

}  // namespace astrelon
