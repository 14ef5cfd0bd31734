#pragma once
// Menu commands that repair camera images: defect pixels smoothed, colour
// fringes removed, the red and blue layers registered onto green.
class QAction;

namespace astrelon {

void Fehlpixelgltten1Click(QAction* sender);
void Farbkantenentfernen1Click(QAction* sender);
void Farbenzurechtrcken1Click(QAction* sender);

void RegisterColourRepairCommands();

}  // namespace astrelon
