#pragma once
// Menu commands of the colour models: the camera profile into a new image
// ("Kamera RAW-Farben nach RGB") and colour to grey ("Farb-Bild in s/w umwandeln").
class QAction;

namespace astrelon {

void KameraRAWFarbennachRGB1Click(QAction* sender);
// Colour to grey into a new window, by luma or by luminance.
void ColorToMonoCommand(QAction* sender, bool luminance);
void RGBBildnachswwandeln1Click(QAction* sender);

void RegisterColorCommands();

}  // namespace astrelon
