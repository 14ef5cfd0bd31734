#pragma once
// Menu commands of the perspective and field-distortion corrections.
class QAction;

namespace astrelon {

// "&Perspektive korrigieren": two guide lines drawn in the active image become
// parallel in a new window.
void PerspectiveCommand(QAction* sender);
// "Bildfeld &Entzerrung": a result window of the active image and the dialog.
void FieldDistortionCommand(QAction* sender);

void RegisterDistortionCommands();

}  // namespace astrelon
