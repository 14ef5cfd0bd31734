#pragma once
// "Hintergrund Gradient ebnen &automatisch", "Hintergrund ebnen nichtlinear
// automatisch" and "Bild maskieren": a linear or radial slope taken out of a
// copy of the active image, or the copy blanked where a second image is bright.
class QAction;

namespace astrelon {

void FlattenGradientLinearCommand(QAction* sender);
void FlattenGradientRadialCommand(QAction* sender);
void MaskImageCommand(QAction* sender);

// Registers the commands by their menu items' names.
void RegisterGradientFlatteningCommands();

}  // namespace astrelon
